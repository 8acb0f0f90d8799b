#include "ui/widgets/WindowPlaces.h"

#include "ui/widgets/Placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
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
    PlaceKeeper(QWidget* window, QSettings& settings, QWidget* home)
        : QObject(window), window_(window), home_(home), settings_(settings) {
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
        const bool restored = !kept.isEmpty() && window_->restoreGeometry(kept);
        const QWidget* home = home_ ? home_.data() : window_;
        // The frame the window manager gives: the home window's, once it has one.
        const QSize margins =
            home->isVisible() ? home->frameGeometry().size() - home->size() : QSize(0, 0);
        // A window shown the first time has Qt's size for it, at most two thirds of the screen:
        // it may have all it asks for where the screen has room.
        QRect frame(window_->pos(),
                    (restored ? window_->size() : window_->size().expandedTo(window_->sizeHint())) +
                        margins);
        const bool overHome = !restored && home != window_;
        if (overHome)
            frame.moveCenter(home->frameGeometry().center());
        // A kept place stays on its own screen where there still is one.
        QScreen* screen = restored ? QGuiApplication::screenAt(frame.center()) : nullptr;
        if (!screen)
            screen = home->screen();
        if (!screen)
            return;
        const QSize least = window_->minimumSizeHint().expandedTo(window_->minimumSize()) + margins;
        const QRect placed = OnScreen(frame, least, screen->availableGeometry());
        if (placed.size() != frame.size())
            window_->resize(placed.size() - margins);
        if (overHome || placed.topLeft() != frame.topLeft())
            window_->move(placed.topLeft());
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
    QPointer<QWidget> home_;
    QSettings& settings_;
    QTimer save_;
    bool restored_ = false;
};

}  // namespace

void KeepWindowPlace(QWidget* window, QSettings& settings, QWidget* home) {
    if (window && !window->findChild<QObject*>(kKeeperName, Qt::FindDirectChildrenOnly))
        new PlaceKeeper(window, settings, home);
}

bool HasKeptPlace(const QString& name, const QSettings& settings) {
    return settings.contains(Key(name));
}

}  // namespace tq
