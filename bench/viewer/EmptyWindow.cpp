// The reference for the viewer's start: a Qt program that shows one frameless window of the
// main window's size and does nothing else.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
    window.setFixedSize(1080, 645);
    window.show();
    return QApplication::exec();
}
