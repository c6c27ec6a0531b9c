#pragma once

#include "AuditTrail.h"
#include "UiContext.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QVBoxLayout;

// Where and how the admin wants the trail written out.
struct AuditExportTarget {
    QString path;
    bool csv = false;
};

// "Audit": the recorded events newest first, or its empty state, under one
// line saying whether the chain still holds. Reads the trail when built and
// whenever an event is recorded, never while painting. Export writes the
// trail as JSON Lines (verifiable elsewhere) or CSV.
class AuditPageView : public QWidget {
    Q_OBJECT

public:
    // Asks where to export, offering `defaultName`; nothing when cancelled.
    using ExportChooser = std::function<std::optional<AuditExportTarget>(
        QWidget *parent, const QString &defaultName)>;

    explicit AuditPageView(const UiContext &context, QWidget *parent = nullptr);

    // Replaces the save dialog (tests answer without a native window).
    void setExportChooser(ExportChooser chooser) { m_chooseExport = std::move(chooser); }

    QList<AuditRecord> records() const { return m_records; }
    // The sentence above the list; empty for an empty, intact trail.
    static QString chainText(const AuditVerdict &verdict);

    // Reads the trail again and rebuilds the list.
    void reload();

    // The save dialog the page asks with (Uninstall offers the same).
    static std::optional<AuditExportTarget> askWithSaveDialog(QWidget *parent,
                                                              const QString &defaultName);
    // Writes `trail` to `target`; an error text for the user, empty on success.
    static QString writeExport(const AuditTrail &trail, const AuditExportTarget &target);

private:
    QWidget *createEmptyState();
    QWidget *createEventRow(const AuditRecord &record);
    void exportTrail();
    void showExportMessage(const QString &text, bool failed);

    UiContext m_context;
    ExportChooser m_chooseExport;
    QList<AuditRecord> m_records;
    QPushButton *m_exportButton = nullptr;
    QLabel *m_chainState = nullptr;
    QLabel *m_exportMessage = nullptr;
    QVBoxLayout *m_body = nullptr;
};
