// The baseline of the start-up benchmark: a Qt program that opens one empty window of the main
// window's size and ends, like the program does with "quit" on its console.

#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(978, 554);
    window.show();
    QTimer::singleShot(0, &app, &QApplication::quit);
    return QApplication::exec();
}
