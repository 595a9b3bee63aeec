// The program. For now a bare main window; the full shell comes next.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>

#include <clocale>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setlocale(LC_TIME, "");
    QMainWindow window;
    window.setObjectName("frmMain");
    window.setWindowTitle("Tavix2");
    window.setCentralWidget(new QLabel("Kestrix"));
    window.show();
    return app.exec();
}
