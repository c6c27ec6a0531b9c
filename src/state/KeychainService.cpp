#include "KeychainService.h"

#include <QCoroSignal>
#include <QLoggingCategory>

#include <qt6keychain/keychain.h>

#include <atomic>
#include <chrono>
#include <memory>

Q_LOGGING_CATEGORY(lcState, "keelmark.state")

namespace {

constexpr std::chrono::milliseconds jobTimeout{10'000};

// A store that is missing or locked fails every call the same way; one
// warning per process is enough to explain the absent sign-in.
void reportStoreProblem(const QString &message) {
    static std::atomic_bool reported{false};
    if (!reported.exchange(true))
        qCWarning(lcState) << "credential store unavailable:" << message;
}

// Starts `job` and waits for it at most jobTimeout. Returns false on a
// time-out; the job then deletes itself whenever it finally finishes, so a
// late answer neither leaks nor touches freed memory.
QCoro::Task<bool> runJob(QKeychain::Job *job) {
    job->setAutoDelete(false);
    job->setInsecureFallback(false);
    auto finished = std::make_shared<bool>(false);
    QObject::connect(job, &QKeychain::Job::finished, job, [finished] { *finished = true; });
    job->start();
    const auto result = co_await qCoro(job, &QKeychain::Job::finished, jobTimeout);
    if (result.has_value() || *finished)
        co_return true;
    QObject::connect(job, &QKeychain::Job::finished, job, &QObject::deleteLater);
    reportStoreProblem(QStringLiteral("no answer within %1 s").arg(jobTimeout.count() / 1000));
    co_return false;
}

} // namespace

namespace KeychainService {

QCoro::Task<std::optional<QString>> load(QString key, QString service) {
    auto *job = new QKeychain::ReadPasswordJob(service);
    job->setKey(key);
    const bool finished = co_await runJob(job);
    if (!finished)
        co_return std::nullopt;
    std::optional<QString> value;
    if (job->error() == QKeychain::NoError)
        value = job->textData();
    else if (job->error() != QKeychain::EntryNotFound)
        reportStoreProblem(job->errorString());
    job->deleteLater();
    co_return value;
}

QCoro::Task<bool> save(QString key, QString value, QString service) {
    // The store's write replaces an existing item in place: deleting first
    // would lose the old credential whenever the new one is refused.
    auto *job = new QKeychain::WritePasswordJob(service);
    job->setKey(key);
    job->setTextData(value);
    const bool finished = co_await runJob(job);
    if (!finished)
        co_return false;
    const bool ok = job->error() == QKeychain::NoError;
    if (!ok)
        reportStoreProblem(job->errorString());
    job->deleteLater();
    co_return ok;
}

QCoro::Task<bool> remove(QString key, QString service) {
    auto *job = new QKeychain::DeletePasswordJob(service);
    job->setKey(key);
    const bool finished = co_await runJob(job);
    if (!finished)
        co_return false;
    const bool ok = job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound;
    if (!ok)
        reportStoreProblem(job->errorString());
    job->deleteLater();
    co_return ok;
}

} // namespace KeychainService
