#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vaultry");
    QMainWindow window;
    window.setWindowTitle("Vaultry");
    window.setCentralWidget(new QLabel("Vaultry"));
    window.resize(800, 560);
    window.show();
    return app.exec();
}
