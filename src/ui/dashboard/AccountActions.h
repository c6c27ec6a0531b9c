#pragma once

#include "AuditPageView.h"
#include "UiContext.h"

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// The end of the account on this computer: "Disconnect" (Settings and GitHub
// pages) and "Uninstall KeelMark" (Settings). The page that starts one is
// gone before it ends (the window turns to the wizard, or the app quits), so
// outcomes go to AppState and the shell rather than back to the page.
class AccountActions : public QObject {
    Q_OBJECT

public:
    // A yes/no question with the accepting button's label.
    using Question = std::function<bool(QWidget *parent, const QString &title, const QString &text,
                                        const QString &accept)>;
    enum class ExportChoice { exportFirst, skip, cancel };
    // Before uninstalling: export the audit log first?
    using ExportOffer = std::function<ExportChoice(QWidget *parent)>;
    // A closing message the user acknowledges.
    using Notice = std::function<void(QWidget *parent, const QString &title, const QString &text)>;

    explicit AccountActions(const UiContext &context, QWidget *page);

    // Replace the dialogs (tests answer without native windows).
    void setQuestion(Question question) { m_ask = std::move(question); }
    void setExportOffer(ExportOffer offer) { m_offerExport = std::move(offer); }
    void setExportChooser(AuditPageView::ExportChooser chooser) {
        m_chooseExport = std::move(chooser);
    }
    void setNotice(Notice notice) { m_notify = std::move(notice); }

    static QString disconnectText(const QString &repository);
    // What the closing message says about removing the program itself.
    static QString programRemovalText(const QString &command);

    void disconnectAccount();
    void uninstall();

signals:
    // Progress of a running command for the page's button; empty when idle.
    void busy(const QString &text);
    // A failure the page shows (the command stopped with nothing lost).
    void failed(const QString &text);

private:
    // What a disconnect could not do, in the user's words; empty when all went.
    static QCoro::Task<QStringList> endSession(UiContext context);
    static QCoro::Task<> runDisconnect(UiContext context, QString repository);
    static QCoro::Task<> runUninstall(UiContext context, Notice notify);
    QString repository() const;
    bool exportBeforeUninstall();

    UiContext m_context;
    QWidget *m_page;
    Question m_ask;
    ExportOffer m_offerExport;
    AuditPageView::ExportChooser m_chooseExport;
    Notice m_notify;
};
