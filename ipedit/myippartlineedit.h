// One octet of an IPv4 address: at most three digits, 0 to 255, handing the focus on to
// the next octet when this one cannot grow any further.
#pragma once

#include <QLineEdit>

class MyIpPartLineEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit MyIpPartLineEdit(QWidget* parent = nullptr);
    ~MyIpPartLineEdit() override;

    // Not owned; set by the owner.
    MyIpPartLineEdit* next = nullptr;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private slots:
    void text_edited(const QString& text);

private:
    void handOver();
};
