#include "SetupBannerView.h"

#include "Style.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>

SetupBannerView::SetupBannerView(const UiContext &, QWidget *parent)
    : QWidget(parent)
    , m_transferButton(new QPushButton(QStringLiteral("Transfer Now →"), this)) {
    setObjectName(QStringLiteral("setupBanner"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 8, 16, 8);

    const int symbol = Widgets::symbolSize(Style::TextStyle::caption);
    row->addWidget(new Widgets::SymbolView(QStringLiteral("exclamationmark.triangle.fill"),
                                           Style::color(Style::Color::orange), symbol, this),
                   0, Qt::AlignVCenter);
    auto *message =
        new QLabel(QStringLiteral("SETUP MODE — You are configuring this for someone else."), this);
    message->setObjectName(QStringLiteral("setupBannerText"));
    message->setFont(Style::font(Style::TextStyle::caption, QFont::Medium));
    row->addWidget(message, 0, Qt::AlignVCenter);
    row->addStretch(1);

    // The hand-over it announces is not built yet; the button stays inert.
    m_transferButton->setObjectName(QStringLiteral("setupBannerTransferButton"));
    m_transferButton->setFont(Style::font(Style::TextStyle::caption));
    Style::styleButton(m_transferButton, Style::ButtonStyle::bordered, Style::ControlSize::small);
    row->addWidget(m_transferButton, 0, Qt::AlignVCenter);
}

void SetupBannerView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), Style::color(Style::Color::orange, 0.15));
}
