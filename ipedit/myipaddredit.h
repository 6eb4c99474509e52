// A four-octet IPv4 address entry: four octet fields in one bordered box.
#pragma once

#include <QWidget>

class MyIpPartLineEdit;
class QFrame;
class QLabel;

class MyIpAddrEdit : public QWidget {
    Q_OBJECT
public:
    explicit MyIpAddrEdit(QWidget* parent = nullptr);
    ~MyIpAddrEdit() override;

    // The dotted address as typed, or "0.0.0.0" when any octet is empty.
    QString text();
    // Fills the octets from a dotted address; empties them when the text is not one.
    void settext(const QString& text);
    // Shows completeness as the border colour and returns it.
    bool checkvalid();
    void resizeedit();

signals:
    void textchanged(const QString& text);
    void textedited(const QString& text);

private slots:
    void textchangedslot(const QString& text);
    void texteditedslot(const QString& text);

private:
    // The four octets as "%1.%2.%3.%4"; complete when none is empty.
    QString assemble(bool* complete) const;

    MyIpPartLineEdit* part1 = nullptr;
    MyIpPartLineEdit* part2 = nullptr;
    MyIpPartLineEdit* part3 = nullptr;
    MyIpPartLineEdit* part4 = nullptr;
    QFrame* frame = nullptr;
    QLabel* dot1 = nullptr;
    QLabel* dot2 = nullptr;
    QLabel* dot3 = nullptr;
    bool valid = false;
};
