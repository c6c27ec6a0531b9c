#include "UpdateCheckDialog.h"

#include "GitHubService.h"
#include "ReleaseVersion.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString shownVersion(const QString &tag) {
    return tag.startsWith(u'v') || tag.startsWith(u'V') ? tag.mid(1) : tag;
}

} // namespace

UpdateCheckDialog::UpdateCheckDialog(GitHubService *gitHub, QString repository,
                                     QString currentVersion, QWidget *parent)
    : QDialog(parent)
    , m_gitHub(gitHub)
    , m_repository(std::move(repository))
    , m_currentVersion(std::move(currentVersion))
    , m_open(Widgets::openInBrowser) {
    setObjectName("updateCheckDialog");
    setWindowTitle(QStringLiteral("Check for Updates"));
    auto *lines = new QVBoxLayout(this);
    lines->setContentsMargins(20, 20, 20, 16);
    lines->setSpacing(8);
    m_headline = Widgets::text(QString(), Style::TextStyle::headline, Style::Color::label, this);
    m_headline->setObjectName("updateHeadline");
    lines->addWidget(m_headline);
    m_detail = Widgets::wrappedText(QString(), Style::TextStyle::body, Style::Color::secondaryLabel,
                                    360, Qt::AlignLeft, this);
    m_detail->setObjectName("updateDetail");
    m_detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lines->addWidget(m_detail);
    lines->addSpacing(8);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_retry = Widgets::button("Try Again", "retryUpdateCheckButton", Style::TextStyle::body,
                              Style::Color::label, this);
    m_viewRelease = Widgets::button("View Release", "viewReleaseButton", Style::TextStyle::body,
                                    Style::Color::label, this);
    Style::styleButton(m_viewRelease, Style::ButtonStyle::prominent);
    auto *close = Widgets::button("Close", "closeUpdateCheckButton", Style::TextStyle::body,
                                  Style::Color::label, this);
    for (QPushButton *button : {m_retry, m_viewRelease, close})
        buttons->addWidget(button);
    lines->addLayout(buttons);
    m_retry->hide();
    m_viewRelease->hide();

    connect(m_retry, &QPushButton::clicked, this, &UpdateCheckDialog::check);
    connect(m_viewRelease, &QPushButton::clicked, this, [this] {
        if (m_open)
            m_open(m_releasePage);
    });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

void UpdateCheckDialog::check() {
    if (m_checking)
        return;
    m_releasePage.clear();
    m_viewRelease->hide();
    m_retry->hide();
    const qsizetype slash = m_repository.indexOf(u'/');
    if (m_repository.isEmpty() || slash <= 0) {
        showAnswer(QStringLiteral("Updates come with your system's packages."),
                   QStringLiteral("This copy of KeelMark is updated by the package manager "
                                  "it was installed with."));
        return;
    }
    if (!m_gitHub) {
        showAnswer(QStringLiteral("Could not check for updates."),
                   QStringLiteral("GitHub is not available to this window."));
        return;
    }
    m_checking = true;
    m_headline->setText(QStringLiteral("Checking for updates…"));
    m_detail->clear();
    auto task = fetch(m_repository.left(slash), m_repository.mid(slash + 1));
    Q_UNUSED(task); // eager; answers on its own
}

QCoro::Task<> UpdateCheckDialog::fetch(QString owner, QString name) {
    // The dialog may be closed while GitHub answers.
    const QPointer<UpdateCheckDialog> self(this);
    const QPointer<GitHubService> gitHub(m_gitHub);
    std::optional<GitHubRelease> release;
    QString failure;
    try {
        release = co_await gitHub->latestRelease(owner, name);
    } catch (const GitHubTransportError &error) {
        failure = error.description() == GitHubTransportError::timedOutText()
                      ? error.description()
                      : QStringLiteral("GitHub could not be reached: ") + error.description();
    } catch (const GitHubFailure &error) {
        failure = error.detail().isEmpty()
                      ? error.description()
                      : error.description() + QStringLiteral(" GitHub said: ") + error.detail();
    } catch (const std::exception &error) {
        failure = QString::fromUtf8(error.what());
    }
    if (!self)
        co_return;
    m_checking = false;
    if (!failure.isEmpty()) {
        m_retry->show();
        showAnswer(QStringLiteral("Could not check for updates."), failure);
        co_return;
    }
    if (!release) {
        showAnswer(QStringLiteral("KeelMark is up to date."),
                   QStringLiteral("No release of KeelMark has been published yet."));
        co_return;
    }
    switch (ReleaseVersion::compare(release->tagName, m_currentVersion)) {
    case ReleaseVersion::Verdict::newer:
        m_releasePage = release->htmlUrl;
        m_viewRelease->show();
        m_viewRelease->setDefault(true);
        showAnswer(QStringLiteral("KeelMark %1 is available.").arg(shownVersion(release->tagName)),
                   QStringLiteral("You have version %1.").arg(m_currentVersion));
        break;
    case ReleaseVersion::Verdict::notNewer:
        showAnswer(QStringLiteral("KeelMark is up to date."),
                   QStringLiteral("You have version %1.").arg(m_currentVersion));
        break;
    case ReleaseVersion::Verdict::unknown:
        showAnswer(QStringLiteral("Could not check for updates."),
                   QStringLiteral("The latest release, \u201c%1\u201d, has no version number to "
                                  "compare with %2.")
                       .arg(release->tagName, m_currentVersion));
        break;
    }
}

void UpdateCheckDialog::showAnswer(const QString &headline, const QString &detail) {
    m_headline->setText(headline);
    m_detail->setText(detail);
    adjustSize();
    emit answered();
}
