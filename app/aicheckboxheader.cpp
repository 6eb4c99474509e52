#include "aicheckboxheader.h"

#include <QCheckBox>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>

AiCheckBoxHeader::AiCheckBoxHeader(Qt::Orientation orientation, QWidget* parent)
    : QHeaderView(orientation, parent)
{
}

AiCheckBoxHeader::~AiCheckBoxHeader() = default;

void AiCheckBoxHeader::toggleOnLeftClick(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && logicalIndexAt(event->pos()) == 0) {
        isOn = !isOn;
        emit signalStateTrange(isOn);
    }
    update();
}

void AiCheckBoxHeader::mousePressEvent(QMouseEvent* event)
{
    toggleOnLeftClick(event);
    QHeaderView::mousePressEvent(event);
}

void AiCheckBoxHeader::mouseDoubleClickEvent(QMouseEvent* event)
{
    toggleOnLeftClick(event);
    QHeaderView::mouseDoubleClickEvent(event);
}

void AiCheckBoxHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    painter->save();
    QHeaderView::paintSection(painter, rect, logicalIndex);
    painter->restore();
    if (logicalIndex != 0)
        return;

    QStyleOptionButton option;
    // Off together with NoChange, and never Enabled: that is the look the box has always had.
    option.state = isOn ? QStyle::State_On : (QStyle::State_Off | QStyle::State_NoChange);
    option.rect = rect;
    option.iconSize = QSize(20, 20);
    QCheckBox styleWidget;
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, painter, &styleWidget);
}
