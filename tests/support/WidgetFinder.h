#pragma once
// What the widget tests do to a window as a user would: find a child by its object name, and type
// over the text of an entry box.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QObject>
#include <QString>
#include <QTest>

namespace tq::testing {

// The child of `parent` named `name`; a failure of the test when there is none.
template <typename T>
T* FindChild(const QObject& parent, const QString& name) {
    T* child = parent.findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name.toStdString();
    return child;
}
template <typename T>
T* FindChild(const QObject& parent, const char* name) {
    return FindChild<T>(parent, QString::fromLatin1(name));
}

// Selects what `box` holds and types `text` over it.
inline void TypeOver(QLineEdit* box, const QString& text) {
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
}

}  // namespace tq::testing
