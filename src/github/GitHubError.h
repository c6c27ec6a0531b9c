#pragma once

#include <QString>

#include <exception>
#include <memory>
#include <string>

// Base of every error a GitHub operation throws; screens show description()
// and, under it, detail(): GitHub's own message where it sent one.
class GitHubFailure : public std::exception {
public:
    virtual QString description() const = 0;
    virtual QString detail() const { return {}; }
    const char *what() const noexcept override;

private:
    mutable std::string m_what;
};

class GitHubError : public GitHubFailure {
public:
    enum Kind {
        networkError,
        orgNotApproved,
        repoCreationFailed,
        fileWriteFailed,
        branchProtectionFailed,
        invalidName,
    };

    // `detail` carries GitHub's own message where one was given (for example
    // a plan that does not offer protection); description() stays fixed.
    explicit GitHubError(Kind kind, QString detail = {});

    Kind kind() const { return m_kind; }
    QString detail() const override { return m_detail; }
    QString description() const override;

private:
    Kind m_kind;
    QString m_detail;
};

// The transfer failed (no connection, time-out, TLS...): Qt's own text.
class GitHubTransportError : public GitHubFailure {
public:
    explicit GitHubTransportError(QString qtMessage);
    QString description() const override { return m_message; }
    // Said instead of Qt's "Operation canceled" when the transfer timed out.
    static QString timedOutText() { return QStringLiteral("GitHub did not answer in time."); }

private:
    QString m_message;
};

// A body that should have been JSON was not: the parser's own text.
class GitHubJsonError : public GitHubFailure {
public:
    explicit GitHubJsonError(QString parserMessage);
    QString description() const override { return m_message; }

private:
    QString m_message;
};

// The operation was stopped by whoever started it (see GitHubCancellation).
class GitHubCancelledError : public GitHubFailure {
public:
    QString description() const override { return QStringLiteral("Stopped before finishing."); }
};

// Lets whoever starts a multi-request operation stop it between requests:
// the request in flight still completes, nothing after it is sent. Copies
// share one flag, so the starter keeps one and hands copies on.
class GitHubCancellation {
public:
    void cancel() const { *m_cancelled = true; }
    bool isCancelled() const { return *m_cancelled; }
    void throwIfCancelled() const {
        if (*m_cancelled)
            throw GitHubCancelledError();
    }

private:
    std::shared_ptr<bool> m_cancelled = std::make_shared<bool>(false);
};

// A read that GitHub answered without the answer: the caller (the health
// check) must tell these apart from a real "not there", since they say
// nothing about the repository.
class GitHubReadFailure : public GitHubFailure {
public:
    enum Kind {
        serverError,  // 5xx
        rateLimited,  // 403/429 with the rate limit spent
        unauthorized, // 401: the token was refused
        unexpected,   // any other status a read does not expect
    };

    GitHubReadFailure(Kind kind, int status, QString message);

    Kind kind() const { return m_kind; }
    int status() const { return m_status; }
    QString detail() const override { return m_message; }
    QString description() const override;

private:
    Kind m_kind;
    int m_status;
    QString m_message;
};
