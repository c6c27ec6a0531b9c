#include "AuditPageView.h"

#include "LocaleFormat.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int timestampWidth = 140;
}

AuditPageView::AuditPageView(const UiContext &context, QList<AuditEvent> events, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_events(std::move(events)) {
    setObjectName("auditPage");
    auto *page = Widgets::pageLayout(this);

    auto *header = new QHBoxLayout;
    header->addWidget(Widgets::title("Audit Log", this));
    header->addStretch(1);
    // No export format or destination is decided yet; the button is inert.
    header->addWidget(Widgets::smallButton("Export", "exportButton", "square.and.arrow.up", this));
    page->addLayout(header);

    if (m_events.isEmpty()) {
        page->addWidget(createEmptyState());
    } else {
        auto *list = new QWidget(this);
        list->setObjectName("auditEvents");
        auto *rows = new QVBoxLayout(list);
        rows->setContentsMargins(0, 0, 0, 0);
        rows->setSpacing(6);
        for (const AuditEvent &event : std::as_const(m_events)) {
            rows->addWidget(createEventRow(event));
            rows->addWidget(Widgets::divider(list));
        }
        page->addWidget(list);
    }
    page->addStretch(1);
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

QWidget *AuditPageView::createEventRow(const AuditEvent &event) {
    auto *row = new QWidget;
    row->setObjectName("auditEventRow");
    auto *line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->setAlignment(Qt::AlignTop);

    auto *when = Widgets::text(LocaleFormat::abbreviatedDate(event.timestamp) + ", " +
                                   LocaleFormat::shortenedTime(event.timestamp),
                               Style::TextStyle::caption, Style::Color::secondaryLabel, row);
    when->setObjectName("auditTimestamp");
    when->setFixedWidth(timestampWidth);
    line->addWidget(when, 0, Qt::AlignTop);

    QColor fill = Style::color(Style::Color::secondaryLabel);
    fill.setAlphaF(fill.alphaF() * 0.15);
    auto *kind =
        new Widgets::CapsuleLabel(event.kind, Style::color(Style::Color::label), fill, row);
    kind->setObjectName("auditKind");
    kind->setTextFormat(Qt::PlainText);
    Style::apply(kind, Style::TextStyle::monospacedCaption);
    kind->setContentsMargins(6, 1, 6, 1);
    line->addWidget(kind, 0, Qt::AlignTop);

    auto *message =
        Widgets::text(event.message, Style::TextStyle::caption, Style::Color::label, row);
    message->setObjectName("auditMessage");
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    line->addWidget(message, 1, Qt::AlignTop);
    return row;
}
