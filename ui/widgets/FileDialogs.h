#pragma once
// File choosers go through this interface so that tests can name the file instead of a person.

#include <QString>
#include <QWidget>
#include <deque>

namespace tq {

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The file chosen, or an empty text when the user cancelled.
    virtual QString OpenFileName(QWidget* parent, const QString& caption,
                                 const QString& filter) = 0;
    virtual QString SaveFileName(QWidget* parent, const QString& caption,
                                 const QString& filter) = 0;
};

// `path` with ".suffix" added when its name has no extension ("setup1" -> "setup1.json").
QString WithDefaultSuffix(const QString& path, const QString& suffix);

// The suffix of the first pattern of a filter ("Setups (*.json);;All files (*)" -> "json").
QString FilterSuffix(const QString& filter);

// The system's file dialogs. Each starts in the folder of the last file chosen (kept in the
// program's settings), else in the home folder; a saved file's name gets the filter's suffix when
// it has none, before the dialog asks about replacing a file.
class QtFileDialogs : public FileDialogs {
public:
    QString OpenFileName(QWidget* parent, const QString& caption, const QString& filter) override;
    QString SaveFileName(QWidget* parent, const QString& caption, const QString& filter) override;
};

// Answers each dialog with the next name of `names` (empty when none is left: cancelled).
class ScriptedFileDialogs : public FileDialogs {
public:
    QString OpenFileName(QWidget*, const QString&, const QString&) override { return Next(); }
    QString SaveFileName(QWidget*, const QString&, const QString&) override { return Next(); }
    std::deque<QString> names;

private:
    QString Next() {
        if (names.empty())
            return {};
        QString name = names.front();
        names.pop_front();
        return name;
    }
};

}  // namespace tq
