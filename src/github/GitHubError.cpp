#include "GitHubError.h"

const char *GitHubFailure::what() const noexcept {
    // Kept in the object so the pointer stays valid as long as the error.
    m_what = description().toStdString();
    return m_what.c_str();
}

GitHubError::GitHubError(Kind kind, QString detail)
    : m_kind(kind)
    , m_detail(std::move(detail)) {}

QString GitHubError::description() const {
    switch (m_kind) {
    case networkError:
        return QStringLiteral("Can't reach GitHub. Check your connection.");
    case orgNotApproved:
        return QStringLiteral("This organisation is not approved for KeelMark access.");
    case repoCreationFailed:
        return QStringLiteral("Couldn't create the repository.");
    case fileWriteFailed:
        return QStringLiteral("Couldn't write file to the repository.");
    case branchProtectionFailed:
        return QStringLiteral("Couldn't enable branch protection.");
    case invalidName:
        return QStringLiteral("That name can't be used on GitHub.");
    }
    return {};
}

GitHubTransportError::GitHubTransportError(QString qtMessage)
    : m_message(std::move(qtMessage)) {}

GitHubJsonError::GitHubJsonError(QString parserMessage)
    : m_message(std::move(parserMessage)) {}

GitHubReadFailure::GitHubReadFailure(Kind kind, int status, QString message)
    : m_kind(kind)
    , m_status(status)
    , m_message(std::move(message)) {}

QString GitHubReadFailure::description() const {
    switch (m_kind) {
    case serverError:
        return QStringLiteral("GitHub answered with a server error (HTTP %1).").arg(m_status);
    case rateLimited:
        return QStringLiteral("GitHub's rate limit is used up.");
    case unauthorized:
        return QStringLiteral("GitHub refused the sign-in.");
    case unexpected:
        break;
    }
    return QStringLiteral("GitHub gave an unexpected answer (HTTP %1).").arg(m_status);
}
