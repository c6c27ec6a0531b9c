#pragma once

// Helpers shared by the GitHubService source files; not part of its interface.

#include <QByteArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

#include <exception>

Q_DECLARE_LOGGING_CATEGORY(lcGitHub)

namespace GitHubInternal {

// One line on standard output (the service's few user-visible traces).
void printLine(const QString &line);

// Parses an object or array; throws GitHubJsonError with the parser's text.
QJsonDocument parseJson(const QByteArray &body);

// GitHub's own explanation from an error body ("message", plus the messages
// of "errors"), or an empty text when the body carries none.
QString gitHubMessage(const QByteArray &body);

// A name as one percent-encoded path segment. Throws GitHubError::invalidName
// for an empty, "." or ".." name, which no encoding can make safe.
QString pathSegment(const QString &name);

// A repository file path: each "/"-separated part encoded as a segment.
QString filePathSegments(const QString &path);

// "/repos/{org}/{repo}" with both names encoded.
QString repoPath(const QString &org, const QString &repo);

// An error's user-facing text: description() for ours, what() otherwise.
QString describe(const std::exception &error);

// Said when the keyring refuses a sign-in's tokens.
QString keyringProblemText();

// The first Link entry whose rel list holds "next", or an empty text.
QString nextLink(const QByteArray &linkHeader);

} // namespace GitHubInternal
