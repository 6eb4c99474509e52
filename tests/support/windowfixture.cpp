#include "windowfixture.h"

#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTextDocument>

WindowFixture::WindowFixture()
{
    table = window.findChild<QTableWidget*>("tableWidget");
    searchButton = window.findChild<QPushButton*>("pushButton");
    window.show();
    m_exposed = QTest::qWaitForWindowExposed(&window);
}

void WindowFixture::search()
{
    QTest::mouseClick(searchButton, Qt::LeftButton);
}

QString WindowFixture::cell(int row, int column) const
{
    const QTableWidgetItem* item = table->item(row, column);
    return item ? item->text() : QString();
}

QString ShownToolTip(const QWidget* widget)
{
    const QString tip = widget->toolTip();
    if (!Qt::mightBeRichText(tip))
        return tip;
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
}
