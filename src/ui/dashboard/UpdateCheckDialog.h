#pragma once

#include <QCoroTask>
#include <QDialog>
#include <QPointer>
#include <QUrl>

#include <functional>

class GitHubService;
class QLabel;
class QPushButton;

// "Check for updates": asks GitHub for the latest release of KeelMark's
// own repository and says whether it is newer than the running version,
// with a button to its release page. It never downloads or installs.
class UpdateCheckDialog : public QDialog {
    Q_OBJECT

public:
    using UrlOpener = std::function<void(const QUrl &)>;

    // `repository` is "owner/name"; empty when updates come with the
    // system's packages, and then GitHub is not asked.
    UpdateCheckDialog(GitHubService *gitHub, QString repository, QString currentVersion,
                      QWidget *parent = nullptr);

    // Replaces the browser the release page opens in (tests).
    void setUrlOpener(UrlOpener open) { m_open = std::move(open); }

    // Asks (again); the answer replaces what the dialog says.
    void check();
    bool isChecking() const { return m_checking; }

signals:
    // An answer, or a failure, is on screen.
    void answered();

private:
    QCoro::Task<> fetch(QString owner, QString name);
    void showAnswer(const QString &headline, const QString &detail);

    QPointer<GitHubService> m_gitHub;
    QString m_repository;
    QString m_currentVersion;
    UrlOpener m_open;
    QUrl m_releasePage;
    bool m_checking = false;
    QLabel *m_headline = nullptr;
    QLabel *m_detail = nullptr;
    QPushButton *m_viewRelease = nullptr;
    QPushButton *m_retry = nullptr;
};
