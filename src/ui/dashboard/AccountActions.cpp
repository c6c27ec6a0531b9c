#include "AccountActions.h"

#include "AppState.h"
#include "AuditExport.h"
#include "AuditRecorder.h"
#include "GitHubError.h"
#include "GitHubService.h"
#include "HealthCheckService.h"
#include "ShellCommands.h"
#include "Widgets.h"

#include <QDate>
#include <QDir>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace {

// One command at a time in the whole application: each page has its own
// actions, and a second run would race the first over the same state.
bool g_commandRunning = false;

bool askWithMessageBox(QWidget *parent, const QString &title, const QString &text,
                       const QString &accept) {
    Widgets::Question question;
    question.title = title;
    question.text = text;
    question.goText = accept;
    question.destructive = true;
    return Widgets::ask(parent, question);
}

AccountActions::ExportChoice offerWithMessageBox(QWidget *parent) {
    // On the heap, as Widgets::ask does: the page may go while it is open.
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::Question, QStringLiteral("Export the audit log?"),
                        QStringLiteral("Uninstalling removes KeelMark's audit log from this "
                                       "computer. Export it first to keep a copy."),
                        QMessageBox::Cancel, parent);
    QPushButton *exportFirst =
        box->addButton(QStringLiteral("Export\u2026"), QMessageBox::AcceptRole);
    QPushButton *skip =
        box->addButton(QStringLiteral("Don't Export"), QMessageBox::DestructiveRole);
    box->setDefaultButton(exportFirst);
    box->exec();
    if (!box)
        return AccountActions::ExportChoice::cancel;
    const QAbstractButton *clicked = box->clickedButton();
    delete box;
    if (clicked == exportFirst)
        return AccountActions::ExportChoice::exportFirst;
    return clicked == skip ? AccountActions::ExportChoice::skip
                           : AccountActions::ExportChoice::cancel;
}

void noticeWithMessageBox(QWidget *parent, const QString &title, const QString &text) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
}

QString failureText(const std::exception &error) {
    if (const auto *failure = dynamic_cast<const GitHubFailure *>(&error))
        return failure->detail().isEmpty() ? failure->description()
                                           : failure->description() + u' ' + failure->detail();
    return QString::fromLocal8Bit(error.what());
}

// Every file KeelMark writes into its application directory: the state, the
// baseline, the audit chain, the diagnostic log and what an interrupted
// write leaves beside them. Anything else there is not ours and stays, and
// so does the directory then. Returns the files that could not be removed.
QStringList removeApplicationFiles(const QString &directory) {
    QDir dir(directory);
    if (!dir.exists())
        return {};
    QStringList left;
    const QStringList ours{QStringLiteral("state.json"),    QStringLiteral("state.json.*"),
                           QStringLiteral("baseline.json"), QStringLiteral("baseline.json.*"),
                           QStringLiteral("audit.jsonl"),   QStringLiteral("audit.jsonl.*"),
                           QStringLiteral("audit-*.jsonl"), QStringLiteral("debug.log")};
    for (const QString &name : dir.entryList(ours, QDir::Files | QDir::Hidden | QDir::System)) {
        if (!dir.remove(name))
            left.append(QDir::toNativeSeparators(dir.filePath(name)));
    }
    dir.rmdir(directory); // only when nothing else is in it
    return left;
}

} // namespace

AccountActions::AccountActions(const UiContext &context, QWidget *page)
    : QObject(page)
    , m_context(context)
    , m_page(page)
    , m_ask(askWithMessageBox)
    , m_offerExport(offerWithMessageBox)
    , m_chooseExport(AuditPageView::askWithSaveDialog)
    , m_notify(noticeWithMessageBox) {}

QString AccountActions::disconnectText(const QString &repository) {
    return QStringLiteral("KeelMark will stop watching %1 on this computer. The repository and "
                          "its protection on GitHub stay as they are.")
        .arg(repository);
}

QString AccountActions::programRemovalText(const QString &command) {
    if (command.isEmpty())
        return QStringLiteral("The program itself is still installed: remove it the way you "
                              "installed it.");
    return QStringLiteral("The program itself is removed with the system's package manager:\n\n"
                          "%1")
        .arg(command);
}

QString AccountActions::repository() const {
    const AppState *state = m_context.appState;
    if (!state || !state->selectedOrg() || state->repoName().isEmpty())
        return QStringLiteral("your repository");
    return state->selectedOrg()->login + u'/' + state->repoName();
}

void AccountActions::disconnectAccount() {
    if (g_commandRunning || !m_context.appState || !m_ask)
        return;
    // The questions are modal: the page, and these actions with it, may be
    // gone by the time they are answered.
    const QPointer<AccountActions> alive(this);
    if (!m_ask(m_page, QStringLiteral("Disconnect GitHub?"), disconnectText(repository()),
               QStringLiteral("Disconnect")) ||
        !alive)
        return;
    g_commandRunning = true;
    emit busy(QStringLiteral("Disconnecting\u2026"));
    auto task = runDisconnect(m_context, repository()); // eager; outlives the page
    Q_UNUSED(task);
}

void AccountActions::uninstall() {
    if (g_commandRunning || !m_context.appState || !m_context.shell || !m_ask)
        return;
    const QString text =
        disconnectText(repository()) +
        QStringLiteral("\n\nUninstalling also signs KeelMark out of GitHub and removes its "
                       "settings, the approved baseline and the audit log from this computer.");
    const QPointer<AccountActions> alive(this);
    if (!m_ask(m_page, QStringLiteral("Uninstall KeelMark?"), text, QStringLiteral("Uninstall")) ||
        !alive || !exportBeforeUninstall() || !alive)
        return;
    g_commandRunning = true;
    emit busy(QStringLiteral("Uninstalling\u2026"));
    auto task = runUninstall(m_context, m_notify);
    Q_UNUSED(task);
}

bool AccountActions::exportBeforeUninstall() {
    if (!m_context.audit || m_context.audit->trail().records().isEmpty())
        return true;
    const QPointer<AccountActions> alive(this);
    const ExportChoice choice = m_offerExport ? m_offerExport(m_page) : ExportChoice::skip;
    if (!alive)
        return false;
    if (choice != ExportChoice::exportFirst)
        return choice == ExportChoice::skip;
    const std::optional<AuditExportTarget> target =
        m_chooseExport
            ? m_chooseExport(m_page, AuditExport::defaultFileName(QDate::currentDate(), false))
            : std::nullopt;
    if (!alive || !target || target->path.isEmpty())
        return false;
    // Nothing is removed unless the copy the user asked for exists.
    const QString error = AuditPageView::writeExport(m_context.audit->trail(), *target);
    if (!error.isEmpty())
        emit failed(QStringLiteral("The audit log could not be exported, so nothing was "
                                   "uninstalled: %1")
                        .arg(error));
    return error.isEmpty();
}

QCoro::Task<QStringList> AccountActions::endSession(UiContext context) {
    const QPointer<GitHubService> gitHub(context.gitHub);
    const QPointer<HealthCheckService> health(context.health);
    // No check may write a status while the account is being taken apart.
    if (health)
        health->stopHeartbeat();
    QStringList problems;
    if (gitHub) {
        try {
            co_await gitHub->revokeGrant();
        } catch (const std::exception &error) {
            QString why = failureText(error).trimmed();
            if (!why.endsWith(u'.'))
                why += u'.';
            problems.append(QStringLiteral("GitHub could not be asked to revoke KeelMark's "
                                           "access: %1 You can revoke it on GitHub under "
                                           "Settings \u2192 Applications.")
                                .arg(why));
        }
    }
    // Forgotten whether or not GitHub heard of it: the user asked to leave.
    if (gitHub) {
        const bool forgotten = co_await gitHub->forgetSignIn();
        if (!forgotten)
            problems.append(QStringLiteral("The system keyring kept KeelMark's GitHub sign-in; "
                                           "remove the io.keelmark.app items there."));
    }
    co_return problems;
}

QCoro::Task<> AccountActions::runDisconnect(UiContext context, QString repository) {
    const QPointer<AppState> state(context.appState);
    const QPointer<AuditRecorder> audit(context.audit);
    const QStringList problems = co_await endSession(context);
    if (audit)
        audit->record(
            QStringLiteral("disconnect"),
            problems.isEmpty()
                ? QStringLiteral("Disconnected from GitHub; stopped watching %1").arg(repository)
                : QStringLiteral("Disconnected from GitHub; stopped watching %1. %2")
                      .arg(repository, problems.join(u' ')),
            {{QStringLiteral("repository"), repository}});
    g_commandRunning = false;
    if (!state)
        co_return;
    state->returnToGitHubStep();
    // The wizard's GitHub step shows this; the page that asked is gone.
    if (!problems.isEmpty())
        state->setGitHubSignInProblem(QStringLiteral("KeelMark has disconnected. ") +
                                      problems.join(u' '));
}

QCoro::Task<> AccountActions::runUninstall(UiContext context, Notice notify) {
    const QPointer<AppState> state(context.appState);
    ShellCommands *shell = context.shell; // lives as long as the application
    QStringList problems = co_await endSession(context);
    if (state) {
        const QStringList left = removeApplicationFiles(state->appDirectory());
        if (!left.isEmpty())
            problems.append(QStringLiteral("These files could not be removed: %1")
                                .arg(left.join(QStringLiteral(", "))));
    }
    QString traces;
    if (!shell->removeDesktopTraces(&traces))
        problems.append(traces);
    QString text = QStringLiteral("KeelMark has been removed from this computer's settings and "
                                  "will quit now. ") +
                   programRemovalText(shell->packageRemovalCommand());
    if (!problems.isEmpty())
        text += QStringLiteral("\n\nNot everything went: ") + problems.join(u' ');
    if (notify)
        notify(nullptr, QStringLiteral("KeelMark Uninstalled"), text);
    g_commandRunning = false;
    shell->quit();
}
