// The floor for the start-up benchmark: the least a Qt Widgets tray
// application does before its icon shows (an icon, a hidden window, one
// network access manager), built with the same toolchain and flags as
// KeelMark. With --report it prints how long its icon took to dock and
// quits, which makes it the hand check for scripts/with-display.sh too.
#include <QApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int main(int argc, char **argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    const bool report = app.arguments().contains(QStringLiteral("--report"));

    QNetworkAccessManager network;
    QWidget window;
    window.resize(800, 600);

    QPixmap pixmap(18, 18);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(Qt::darkGreen);
        painter.drawEllipse(1, 1, 16, 16);
    }
    QSystemTrayIcon tray{QIcon(pixmap)};
    tray.show();

    if (report) {
        std::printf("tray available: %s\n",
                    QSystemTrayIcon::isSystemTrayAvailable() ? "yes" : "no");
        // The geometry stays empty until the host has docked the icon, and no
        // signal says when that happens.
        auto *poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, &app, [&] {
            if (!tray.geometry().isEmpty()) {
                const QRect g = tray.geometry();
                std::printf("docked after %lld ms at %d,%d %dx%d\n",
                            static_cast<long long>(sinceStart.elapsed()), g.x(), g.y(), g.width(),
                            g.height());
                std::fflush(stdout);
                app.quit();
            }
        });
        poll->start(2);
        QTimer::singleShot(10000, &app, [&] {
            std::printf("not docked after 10 s\n");
            app.exit(1);
        });
    }
    return app.exec();
}
