#include "ui/widgets/WindowPlaces.h"

#include <QEvent>
#include <QSettings>
#include <QTimer>
#include <QWidget>

namespace tq {
namespace {

const QString kKeeperName = QStringLiteral("tqPlaceKeeper");

QString Key(const QString& name) {
    return QStringLiteral("windows/%1/geometry").arg(name);
}

class PlaceKeeper : public QObject {
public:
    PlaceKeeper(QWidget* window, QSettings& settings)
        : QObject(window), window_(window), settings_(settings) {
        setObjectName(kKeeperName);
        // A drag moves the window many times: the place is written once it rests.
        save_.setSingleShot(true);
        save_.setInterval(500);
        connect(&save_, &QTimer::timeout, this, &PlaceKeeper::Save);
        window->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_)
            return false;
        switch (event->type()) {
            case QEvent::Show:
                if (!restored_) {
                    restored_ = true;
                    Restore();
                }
                break;
            case QEvent::Move:
            case QEvent::Resize:
                if (restored_ && window_->isVisible())
                    save_.start();
                break;
            case QEvent::Hide:
                if (restored_)
                    Save();
                break;
            default:
                break;
        }
        return false;
    }

private:
    void Restore() {
        const QByteArray kept = settings_.value(Key(window_->objectName())).toByteArray();
        if (!kept.isEmpty())
            window_->restoreGeometry(kept);
    }
    void Save() {
        save_.stop();
        // A window that ends where it was kept leaves the file alone.
        const QString key = Key(window_->objectName());
        const QByteArray place = window_->saveGeometry();
        if (settings_.value(key).toByteArray() != place)
            settings_.setValue(key, place);
    }

    QWidget* window_;
    QSettings& settings_;
    QTimer save_;
    bool restored_ = false;
};

}  // namespace

void KeepWindowPlace(QWidget* window, QSettings& settings) {
    if (window && !window->findChild<QObject*>(kKeeperName, Qt::FindDirectChildrenOnly))
        new PlaceKeeper(window, settings);
}

bool HasKeptPlace(const QString& name, const QSettings& settings) {
    return settings.contains(Key(name));
}

}  // namespace tq
