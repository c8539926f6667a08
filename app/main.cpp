#include "app/mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>

#include <memory>

namespace {

bool asksForInformationOnly(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-v" || arg == "--version")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    // --help and --version answer without opening a display.
    std::unique_ptr<QCoreApplication> app(asksForInformationOnly(argc, argv) ? new QCoreApplication(argc, argv)
                                                                             : new QApplication(argc, argv));
    Q_INIT_RESOURCE(resources);

    QCommandLineParser parser;
    QCoreApplication::setApplicationVersion(programVersion);
    parser.setApplicationDescription(QStringLiteral("Monitor for a solar-thermal heating controller on a serial bus."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Open DEVICE (a device path, a pseudo-terminal or a symlink "
                                                       "to one) at start instead of the stored port."),
                                        QStringLiteral("DEVICE"));
    parser.addOption(portOption);
    parser.process(*app);

    StartOptions options;
    options.port = parser.value(portOption);
    MainWindow window(options);
    window.show();
    return app->exec();
}
