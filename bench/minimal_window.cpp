// The baselines of the start-up benchmark: a Qt program that opens one empty window of the main
// window's size and ends, like the program does with "quit" on its console: on the next turn of
// the event loop, with exit(0), so the window is painted first, as the program's are. With "--text"
// the window shows one line of text, so the report can tell the cost that any window with text
// pays once (the font database, a font and its glyphs) from the program's own.

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(978, 554);
    if (QApplication::arguments().contains(QStringLiteral("--text")))
        (new QLabel(QStringLiteral("TQ2604X Evaluation Software"), &window))->move(10, 10);
    window.show();
    QTimer::singleShot(0, &app, [] { QCoreApplication::exit(0); });
    return QApplication::exec();
}
