// Device payloads of both kinds into the window's device slot, on a real table. The first
// byte is the kind (0 announcement text, anything else a JSON reply), the rest the payload.
// The window opens sockets: run this only inside the private network namespace.
#include "fuzztarget.h"

#include "mainwindow.h"

#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QTableWidget>

#include <cstring>
#include <memory>

namespace {
// Keeps the table, and so the memory it holds, bounded.
constexpr int kRowsBeforeSearch = 2000;
// Rows that fit on screen without scrolling: while a new row is among them, the window
// paints it, so the fuzzed texts are also laid out and drawn.
constexpr int kVisibleRows = 16;

struct Window {
    MainWindow* window = nullptr;
    QTableWidget* table = nullptr;
    QPushButton* search = nullptr;
};

Window& window()
{
    static Window w = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "fuzz_slot";
        static char* argv[] = { name, nullptr };
        new QApplication(argc, argv); // lives to the end, like the window
        Window made;
        made.window = new MainWindow;
        made.window->show();
        made.table = made.window->findChild<QTableWidget*>("tableWidget");
        made.search = made.window->findChild<QPushButton*>("pushButton");
        FUZZ_CHECK(made.table && made.search);
        return made;
    }();
    return w;
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Window& w = window();
    if (size == 0)
        return 0;

    const unsigned char kind = data[0];
    const size_t payloadSize = size - 1;
    // The payload as the senders hand it over: a NUL-terminated text in a buffer of theirs.
    std::unique_ptr<char[]> payload(new char[payloadSize + 1]);
    if (payloadSize > 0)
        memcpy(payload.get(), data + 1, payloadSize);
    payload[payloadSize] = 0;

    const int rowsBefore = w.table->rowCount();
    // The listener passes the announcement's length, the command channel 0.
    w.window->slo_getdevice(payload.get(), kind, kind == 0 ? static_cast<unsigned int>(payloadSize) : 0);
    const int rowsAfter = w.table->rowCount();
    FUZZ_CHECK(rowsAfter == rowsBefore || rowsAfter == rowsBefore + 1);
    if (kind == 0)
        FUZZ_CHECK(rowsAfter == rowsBefore + 1); // an announcement always gives a row
    if (rowsAfter > rowsBefore) {
        const QTableWidgetItem* ordinal = w.table->item(rowsAfter - 1, 1);
        FUZZ_CHECK(ordinal && ordinal->text() == QString::number(rowsAfter));
    }

    if (rowsAfter > rowsBefore && rowsAfter <= kVisibleRows) {
        QApplication::processEvents(); // the table's pending layout
        w.table->viewport()->grab(); // paints now; a shown window would paint only after a timer
    }
    if (rowsAfter >= kRowsBeforeSearch) {
        w.search->click();
        FUZZ_CHECK(w.table->rowCount() == 0);
    }
    return 0;
}
