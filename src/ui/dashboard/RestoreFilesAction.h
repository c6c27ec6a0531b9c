#pragma once

#include "UiContext.h"

#include <QWidget>

#include <QCoroTask>

#include <functional>

class QLabel;
class QPushButton;

// "Restore Governance Files" and, beside it, "Accept This Change": the two
// ways back to a governed repository while the last check found governance
// files differing from the approved baseline without approval. Either one
// checks at once afterwards; hidden while the files match.
class RestoreFilesAction : public QWidget {
    Q_OBJECT

public:
    enum class Command { restore, accept };
    // Asks whether to go ahead with `command` for `repository` ("org/repo"),
    // whose `paths` the last check found changed.
    using Confirmation = std::function<bool(QWidget *parent, Command command,
                                            const QString &repository, const QStringList &paths)>;

    explicit RestoreFilesAction(const UiContext &context, QWidget *parent = nullptr);

    // Replaces the confirmation dialogs (tests answer without a native window).
    void setConfirmation(Confirmation confirm) { m_confirm = std::move(confirm); }

private:
    void render();
    void start(Command command);
    QCoro::Task<> restore(QString org, QString repo, QString owner, QStringList paths);
    QCoro::Task<> accept(QString org, QString repo, QString owner);
    void finish(Command command, const QString &failure);

    UiContext m_context;
    Confirmation m_confirm;
    bool m_running = false;
    QPushButton *m_restoreButton = nullptr;
    QPushButton *m_acceptButton = nullptr;
    QLabel *m_message = nullptr;
};
