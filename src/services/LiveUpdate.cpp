#include "services/LiveUpdate.h"

#include "platform/Prompts.h"
#include "platform/Settings.h"
#include "platform/SettingsStore.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

namespace {

const QString kCaption = QStringLiteral("Quillmere Live Update");

// quillmere-updater's exit statuses (its manual page): 0 the package was handed to the desktop,
// 3 the service offers none; any other is a failure.
constexpr int kUpdaterStarted = 0;
constexpr int kUpdaterNoPackage = 3;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A number too large or too small for a double, such as 400 digits or "1e-999": true when it
// is too large. Its first significant digit's place, with the exponent added, tells which; the
// exponent's sign alone does not ("9...9e-50" with 400 nines is still too large).
bool BeyondDoubleIsLarge(std::string_view number)
{
    const size_t e = std::min(number.find_first_of("eE"), number.size());
    const std::string_view digits = number.substr(0, e);
    const size_t first = digits.find_first_of("123456789");
    if (first == std::string_view::npos)
        return false;
    const size_t point = std::min(digits.find('.'), digits.size());
    // The first significant digit stands for 10^place.
    long long place = first < point ? static_cast<long long>(point - first) - 1 : -static_cast<long long>(first - point);
    if (e < number.size()) {
        std::string_view exponent = number.substr(e + 1);
        const bool down = !exponent.empty() && exponent.front() == '-';
        if (!exponent.empty() && (exponent.front() == '-' || exponent.front() == '+'))
            exponent.remove_prefix(1);
        long long value = 0;
        for (const char c : exponent) // held where no double reaches: 10^±400 is out of range
            value = std::min(value * 10 + (c - '0'), 1000000000LL);
        place += down ? -value : value;
    }
    return place >= 0;
}

} // namespace

QString CheckAddress(const ServiceLocation &service)
{
    return service.valid() ? service.url(QStringLiteral("/support")) : QString();
}

qint32 VersionNumber(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const char *p = bytes.constData();
    const char *end = p + bytes.size();
    while (p < end && IsBlank(*p))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-'))
        negative = *p++ == '-';
    // Only digits, or a point and a digit, begin a number: "inf", "nan" and "0x" read no further.
    if (p == end || !(IsDigit(*p) || (*p == '.' && p + 1 < end && IsDigit(p[1]))))
        return 0;
    double value = 0;
    const auto [stop, error] = std::from_chars(p, end, value, std::chars_format::general);
    if (error == std::errc::result_out_of_range)
        value = BeyondDoubleIsLarge(std::string_view(p, size_t(stop - p))) ? HUGE_VAL : 0.0;
    if (negative)
        value = -value;
    const double scaled = value * 100 + 0.001;
    if (scaled >= double(std::numeric_limits<qint32>::max()))
        return std::numeric_limits<qint32>::max();
    if (scaled <= double(std::numeric_limits<qint32>::min()))
        return std::numeric_limits<qint32>::min();
    return qint32(scaled);
}

std::optional<QString> ServerVersionReply(const HttpReply &reply)
{
    if (!reply.completed() || reply.status != 200)
        return std::nullopt;
    const QByteArray line = FirstLine(reply.body);
    if (line.isEmpty() || line.size() > 5)
        return std::nullopt;
    return QString::fromUtf8(line);
}

HttpClient::Request VersionRequest(const ServiceLocation &service)
{
    HttpClient::Request r;
    r.method = "POST";
    r.url = service.url(QStringLiteral("/RIZIruvezo/Admin/getver.exe"));
    // The session's agent name is on the request before the header text is added, and the
    // text's User-Agent is added only where none is: the agent name stays.
    r.headers = {"User-Agent: Microsoft Internet Browser",
                 "Accept: text/xml,application/xml,application/xhtml+xml,text/html;q=0.9,text/plain;q=0.8,"
                 "video/x-mng,image/png,image/jpeg,image/gif;q=0.2,*/*;q=0.1"};
    return r;
}

VersionComparison CompareServerVersion(const ServiceLocation &service, const QString &installed, HttpClient &http)
{
    VersionComparison c;
    const HttpReply reply = http.send(VersionRequest(service));
    if (!reply.completed()) {
        c.message = QStringLiteral("Quillmere Live Update Error:\n") + reply.error.left(1023);
        return c;
    }
    const std::optional<QString> offered = ServerVersionReply(reply);
    if (!offered) {
        c.message = QStringLiteral(
            "Cannot verify software version information on the server.\nRequired program was not found.");
        return c;
    }
    c.result = VersionNumber(installed) < VersionNumber(*offered) ? 1 : 0;
    return c;
}

UpdaterOutcome RunUpdater(const QString &program, const QString &checkAddress, const CancelToken &token)
{
    const CancelToken::Blocking call = token.blocking();
    QProcess process;
    process.setProgram(program);
    process.setArguments({checkAddress});
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1))
        return UpdaterOutcome::NotRegistered;
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit)
        return UpdaterOutcome::Failed;
    switch (process.exitCode()) {
    case kUpdaterStarted: return UpdaterOutcome::Started;
    case kUpdaterNoPackage: return UpdaterOutcome::NoPackage;
    default: return UpdaterOutcome::Failed;
    }
}

QString DefaultUpdaterProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/quillmere-updater");
}

LiveUpdate::LiveUpdate(LiveUpdateContext context, QObject *parent) : QObject(parent), context_(std::move(context))
{
    if (context_.updaterProgram.isEmpty())
        context_.updaterProgram = DefaultUpdaterProgram();
}

LiveUpdate::~LiveUpdate() = default;

void LiveUpdate::Start()
{
    if (running_)
        return;
    running_ = true;
    const ServiceLocation service = ServiceLocation::FromSettings(context_.settings->httpServer, context_.settings->httpPort);
    checkAddress_ = CheckAddress(service);
    if (checkAddress_.isEmpty()) { // no host: nothing can be reached
        finish(UpdateOutcome::NoConnection);
        return;
    }
    HttpClient::Options test;
    test.connectTimeoutSeconds = context_.connectionTestSeconds;
    test.timeoutSeconds = context_.connectionTestSeconds;
    test.stallSeconds = context_.connectionTestSeconds;
    test.maxReplyBytes = 0;
    HttpClient::Options request;
    request.connectTimeoutSeconds = context_.connectionTestSeconds;
    request.timeoutSeconds = context_.versionRequestSeconds;
    request.stallSeconds = context_.versionRequestSeconds;
    request.maxReplyBytes = 64 * 1024;
    worker_.start(
        [service, address = checkAddress_, store = *context_.store, test, request](const WorkerTask &task) {
            const CancelToken::Blocking call = task.token().blocking();
            // Any answer at all, whatever its status, proves that the service can be reached,
            // also one whose page is still coming when the test's time is up.
            HttpClient tester(test);
            if (const HttpReply answer = tester.get(address); !answer.completed() && answer.status == 0)
                return std::optional<VersionComparison>();
            if (task.cancelled())
                return std::optional<VersionComparison>();
            const QString installed = store.ReadString(SettingsStore::SettingsSection, QStringLiteral("CurrentVersion"));
            HttpClient http(request);
            return std::optional<VersionComparison>(CompareServerVersion(service, installed, http));
        },
        [this](quint64, const std::optional<VersionComparison> &answer) {
            if (!answer)
                finish(UpdateOutcome::NoConnection);
            else
                versionKnown(*answer);
        });
}

void LiveUpdate::versionKnown(const VersionComparison &answer)
{
    if (answer.result < 0) {
        tell(answer.message);
        finish(UpdateOutcome::Failed);
        return;
    }
    if (answer.result == 0) {
        if (context_.noNewVersion)
            *context_.noNewVersion = true;
        finish(UpdateOutcome::NotNewer);
        return;
    }
    Prompt question;
    question.text = QStringLiteral("There is new version on the server.\nDo you want to install it?");
    question.caption = kCaption;
    question.icon = PromptIcon::Question;
    question.buttons = PromptButtons::YesNo;
    question.owner = context_.owner;
    if (context_.prompts->ask(question) != PromptAnswer::Yes) {
        finish(UpdateOutcome::Declined);
        return;
    }
    // A missing or unusable updater is found by starting it, on the worker: no file is looked
    // at on this thread.
    worker_.start([program = context_.updaterProgram, address = checkAddress_](
                      const WorkerTask &task) { return RunUpdater(program, address, task.token()); },
                  [this](quint64, UpdaterOutcome outcome) { updaterEnded(outcome); });
}

void LiveUpdate::updaterEnded(UpdaterOutcome outcome)
{
    switch (outcome) {
    case UpdaterOutcome::Started:
        finish(UpdateOutcome::InstallStarted);
        return;
    case UpdaterOutcome::NotRegistered:
        tell(QStringLiteral("Cannot perform the live software update.\nA required object is not registered."));
        break;
    case UpdaterOutcome::NoPackage:
        tell(QStringLiteral("Cannot find update files on Quillmere server!"));
        break;
    case UpdaterOutcome::Failed:
        tell(QStringLiteral("Cannot perform the live software update."));
        break;
    }
    finish(UpdateOutcome::Failed);
}

void LiveUpdate::tell(const QString &text)
{
    context_.prompts->tell(text, kCaption, PromptIcon::Error, context_.owner);
}

void LiveUpdate::finish(UpdateOutcome outcome)
{
    running_ = false;
    emit finished(outcome);
}

bool LiveUpdate::CheckForUpdate()
{
    std::optional<UpdateOutcome> outcome;
    QEventLoop loop;
    const QMetaObject::Connection ended = connect(this, &LiveUpdate::finished, &loop, [&](UpdateOutcome o) {
        outcome = o;
        loop.quit();
    });
    Start();
    if (!outcome)
        loop.exec();
    disconnect(ended);
    return outcome == UpdateOutcome::InstallStarted;
}
