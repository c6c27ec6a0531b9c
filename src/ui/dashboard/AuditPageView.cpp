#include "AuditPageView.h"

#include "AuditExport.h"
#include "AuditRecorder.h"
#include "LocaleFormat.h"
#include "Widgets.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kTimestampWidth = 140;
const QString kJsonLinesFilter = QStringLiteral("JSON Lines (*.jsonl)");
const QString kCsvFilter = QStringLiteral("CSV (*.csv)");

} // namespace

AuditPageView::AuditPageView(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_chooseExport(askWithSaveDialog) {
    setObjectName("auditPage");
    auto *page = Widgets::pageLayout(this, 12);

    auto *header = new QHBoxLayout;
    header->addWidget(Widgets::title("Audit Log", this));
    header->addStretch(1);
    m_exportButton = Widgets::smallButton("Export", "exportButton", "square.and.arrow.up", this);
    connect(m_exportButton, &QPushButton::clicked, this, &AuditPageView::exportTrail);
    header->addWidget(m_exportButton);
    page->addLayout(header);

    m_exportMessage = Widgets::text({}, Style::TextStyle::caption, Style::Color::label, this);
    m_exportMessage->setObjectName("auditExportMessage");
    m_exportMessage->setWordWrap(true);
    m_exportMessage->hide();
    page->addWidget(m_exportMessage);

    m_chainState = Widgets::text({}, Style::TextStyle::caption, Style::Color::label, this);
    m_chainState->setObjectName("auditChainState");
    m_chainState->setWordWrap(true);
    page->addWidget(m_chainState);

    m_body = new QVBoxLayout;
    m_body->setContentsMargins(0, 12, 0, 0);
    page->addLayout(m_body);
    page->addStretch(1);

    if (m_context.audit)
        connect(m_context.audit, &AuditRecorder::recorded, this, &AuditPageView::reload);
    reload();
}

QString AuditPageView::chainText(const AuditVerdict &verdict) {
    if (!verdict.intact) {
        if (verdict.brokenLine <= 1)
            return QStringLiteral("The audit trail was altered from its first line");
        return QStringLiteral("The audit trail was altered after line %1")
            .arg(verdict.brokenLine - 1);
    }
    if (verdict.lines == 0)
        return {};
    return verdict.lines == 1
               ? QStringLiteral("The audit trail is intact: 1 event")
               : QStringLiteral("The audit trail is intact: %1 events").arg(verdict.lines);
}

void AuditPageView::reload() {
    AuditVerdict verdict;
    m_records.clear();
    if (m_context.audit) {
        const AuditTrail &trail = m_context.audit->trail();
        m_records = trail.records();
        verdict = trail.verify();
    }
    const QString chain = chainText(verdict);
    m_chainState->setText(chain);
    m_chainState->setVisible(!chain.isEmpty());
    Style::applyColor(m_chainState,
                      verdict.intact ? Style::Color::secondaryLabel : Style::Color::red);
    m_exportButton->setEnabled(m_context.audit && verdict.lines > 0);

    Widgets::clearLayout(m_body);
    if (m_records.isEmpty()) {
        m_body->addWidget(createEmptyState());
        return;
    }
    auto *list = new QWidget(this);
    list->setObjectName("auditEvents");
    auto *rows = new QVBoxLayout(list);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(6);
    for (const AuditRecord &record : std::as_const(m_records)) {
        rows->addWidget(createEventRow(record));
        rows->addWidget(Widgets::divider(list));
    }
    m_body->addWidget(list);
}

QWidget *AuditPageView::createEmptyState() {
    auto *empty = new QWidget(this);
    empty->setObjectName("auditEmptyState");
    auto *stack = new QVBoxLayout(empty);
    stack->setContentsMargins(40, 40, 40, 40);
    stack->setSpacing(12);
    stack->addWidget(new Widgets::SymbolView("doc.text.magnifyingglass",
                                             Style::color(Style::Color::secondaryLabel), 48, empty),
                     0, Qt::AlignHCenter);
    auto *headline = Widgets::text("No events yet", Style::TextStyle::headline,
                                   Style::Color::secondaryLabel, empty);
    headline->setAlignment(Qt::AlignCenter);
    stack->addWidget(headline);
    auto *hint = Widgets::text(
        "Events will appear here as the system monitors your governance configuration.",
        Style::TextStyle::caption, Style::Color::secondaryLabel, empty);
    hint->setAlignment(Qt::AlignCenter);
    hint->setWordWrap(true);
    stack->addWidget(hint);
    return empty;
}

QWidget *AuditPageView::createEventRow(const AuditRecord &record) {
    auto *row = new QWidget;
    row->setObjectName("auditEventRow");
    auto *line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->setAlignment(Qt::AlignTop);

    // Recorded in UTC, read in the admin's own time.
    const QDateTime local = record.time.toLocalTime();
    auto *when = Widgets::text(LocaleFormat::abbreviatedDate(local) + ", " +
                                   LocaleFormat::shortenedTime(local),
                               Style::TextStyle::caption, Style::Color::secondaryLabel, row);
    when->setObjectName("auditTimestamp");
    when->setFixedWidth(kTimestampWidth);
    line->addWidget(when, 0, Qt::AlignTop);

    QColor fill = Style::color(Style::Color::secondaryLabel);
    fill.setAlphaF(fill.alphaF() * 0.15);
    auto *kind =
        new Widgets::CapsuleLabel(record.kind, Style::color(Style::Color::label), fill, row);
    kind->setObjectName("auditKind");
    kind->setTextFormat(Qt::PlainText);
    Style::apply(kind, Style::TextStyle::monospacedCaption);
    kind->setContentsMargins(6, 1, 6, 1);
    line->addWidget(kind, 0, Qt::AlignTop);

    auto *message =
        Widgets::text(record.message, Style::TextStyle::caption, Style::Color::label, row);
    message->setObjectName("auditMessage");
    message->setWordWrap(true);
    line->addWidget(message, 1, Qt::AlignTop);
    return row;
}

std::optional<AuditExportTarget> AuditPageView::askWithSaveDialog(QWidget *parent,
                                                                  const QString &defaultName) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QString filter = kJsonLinesFilter;
    QString path = QFileDialog::getSaveFileName(parent, QStringLiteral("Export Audit Log"),
                                                QDir(folder).filePath(defaultName),
                                                kJsonLinesFilter + ";;" + kCsvFilter, &filter);
    if (path.isEmpty())
        return std::nullopt;
    const bool csv = filter == kCsvFilter;
    // Some dialogs leave the suffix to us; the name should say the format.
    if (QFileInfo(path).suffix().isEmpty())
        path += csv ? QStringLiteral(".csv") : QStringLiteral(".jsonl");
    return AuditExportTarget{path, csv};
}

QString AuditPageView::writeExport(const AuditTrail &trail, const AuditExportTarget &target) {
    if (!target.csv)
        return AuditExport::writeJsonLines(trail.chainFiles(), target.path);
    // Oldest first, in the order the JSON Lines export keeps.
    QList<AuditRecord> records = trail.records();
    std::reverse(records.begin(), records.end());
    return AuditExport::writeCsv(records, target.path);
}

void AuditPageView::exportTrail() {
    if (!m_context.audit || !m_chooseExport)
        return;
    const std::optional<AuditExportTarget> target =
        m_chooseExport(this, AuditExport::defaultFileName(QDate::currentDate(), false));
    if (!target || target->path.isEmpty())
        return;
    const QString error = writeExport(m_context.audit->trail(), *target);
    if (error.isEmpty())
        showExportMessage(
            QStringLiteral("Exported to %1").arg(QDir::toNativeSeparators(target->path)), false);
    else
        showExportMessage(QStringLiteral("The audit log could not be exported: %1").arg(error),
                          true);
}

void AuditPageView::showExportMessage(const QString &text, bool failed) {
    m_exportMessage->setText(text);
    Style::applyColor(m_exportMessage, failed ? Style::Color::red : Style::Color::secondaryLabel);
    m_exportMessage->show();
}
