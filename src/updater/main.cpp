// quillmere-updater: given the album service's check address, fetches the update package the
// service offers, checks it, and hands it to the desktop's software installer.
#include "updater/UpdatePackage.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillmere-updater"));
    QCoreApplication::setApplicationVersion(QStringLiteral("3.25"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Fetches the update package that the Quillmere album service offers, checks its size and SHA-256\n"
        "against what the service announced, and hands it to the desktop (xdg-open), whose software\n"
        "installer installs it. Quillmere runs it when the user agrees to an update.\n"
        "Exit status: 0 handed over, 1 failed, 2 usage, 3 the service offers no package."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("address"),
                                 QStringLiteral("The service's check address, such as http://host/support."));
    parser.process(app);

    QTextStream err(stderr);
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 1) {
        err << "quillmere-updater: give one check address (see --help)\n";
        return UpdaterUsage;
    }

    HttpClient::Options options;
    options.connectTimeoutSeconds = 15;
    options.timeoutSeconds = 60;
    options.stallSeconds = 60;
    const FetchedPackage package = FetchUpdatePackage(arguments.first(), QDir::tempPath(), options);
    switch (package.outcome) {
    case FetchedPackage::NoPackage:
        err << "quillmere-updater: " << ServiceAddressOf(arguments.first()) << " offers no update package\n";
        return UpdaterNoPackage;
    case FetchedPackage::Failed:
        err << "quillmere-updater: " << package.error << "\n";
        return UpdaterFailed;
    case FetchedPackage::Fetched:
        break;
    }
    QString error;
    if (!HandToDesktop(package.file, 10000, &error)) {
        err << "quillmere-updater: " << error << "\n";
        return UpdaterFailed;
    }
    return UpdaterHandedOver;
}
