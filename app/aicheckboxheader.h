// The device table's horizontal header: paints a check box over section 0 and toggles it
// on a left click there.
#pragma once

#include <QHeaderView>

class AiCheckBoxHeader : public QHeaderView {
    Q_OBJECT
public:
    AiCheckBoxHeader(Qt::Orientation orientation, QWidget* parent);
    ~AiCheckBoxHeader() override;

signals:
    void signalStateTrange(bool isChecked);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    void toggleOnLeftClick(QMouseEvent* event);

    bool isOn = false;
};
