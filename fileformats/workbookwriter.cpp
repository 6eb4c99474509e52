#include "workbookwriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <xlsxwriter.h>

#include <algorithm>
#include <memory>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
constexpr double kMaxWidth = 60;

bool wide(uint c)
{
    return (c >= 0x1100 && c <= 0x115f) || (c >= 0x2e80 && c <= 0xa4cf) || (c >= 0xac00 && c <= 0xd7a3)
        || (c >= 0xf900 && c <= 0xfaff) || (c >= 0xfe30 && c <= 0xfe4f) || (c >= 0xff00 && c <= 0xff60)
        || (c >= 0xffe0 && c <= 0xffe6) || (c >= 0x20000 && c <= 0x3fffd);
}

int displayWidth(const QString& text)
{
    int longest = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        int width = 0;
        for (const uint c : line.toUcs4())
            width += wide(c) ? 2 : 1;
        longest = std::max(longest, width);
    }
    return longest;
}

struct WorkbookCloser {
    void operator()(lxw_workbook* workbook) const { workbook_close(workbook); }
};

// The library opens its temporary files by 8-bit names, on Windows in the system's code
// page, which cannot spell every user's folder (a Polish name on a Western Windows): so it
// is given no folder name at all, only "." while the process works in the workbook's
// folder. Put back when it goes; nothing else of this process opens files meanwhile.
class WorkInFolder {
public:
    explicit WorkInFolder(const QString& folder)
    {
#ifdef _WIN32
        const DWORD length = GetCurrentDirectoryW(0, nullptr);
        m_before.resize(length);
        if (length == 0 || GetCurrentDirectoryW(length, m_before.data()) != length - 1)
            return;
        const QString native = QDir::toNativeSeparators(folder);
        m_entered = SetCurrentDirectoryW(reinterpret_cast<const wchar_t*>(native.utf16())) != 0;
#else
        // By descriptor: the way back works even where its name could not be walked again.
        m_before = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        m_entered = m_before >= 0 && chdir(QFile::encodeName(folder).constData()) == 0;
#endif
    }
    ~WorkInFolder()
    {
#ifdef _WIN32
        if (m_entered)
            SetCurrentDirectoryW(m_before.data());
#else
        if (m_entered && fchdir(m_before) != 0)
            perror("devicesearch: cannot return to the working folder");
        if (m_before >= 0)
            close(m_before);
#endif
    }
    WorkInFolder(const WorkInFolder&) = delete;
    WorkInFolder& operator=(const WorkInFolder&) = delete;
    bool entered() const
    {
        return m_entered;
    }

private:
#ifdef _WIN32
    std::wstring m_before;
#else
    int m_before = -1;
#endif
    bool m_entered = false;
};

// The workbook's own name as the library takes it: UTF-8 on Windows, where it turns it into
// the system's wide name; the file system's bytes elsewhere.
QByteArray libraryName(const QString& name)
{
#ifdef _WIN32
    return name.toUtf8();
#else
    return QFile::encodeName(name);
#endif
}
}

QList<double> WorkbookColumnWidths(const QStringList& columns, const QList<QList<OutputCell>>& rows)
{
    QList<double> widths;
    for (const QString& column : columns)
        widths.append(displayWidth(column) + 3); // the filter's button covers the header's end
    for (const QList<OutputCell>& row : rows) {
        for (int i = 0; i < row.size() && i < widths.size(); ++i)
            widths[i] = std::max(widths[i], double(displayWidth(row.at(i).text)) + 1);
    }
    for (double& width : widths)
        width = std::min(width, kMaxWidth);
    return widths;
}

QString WorkbookText(const QString& text)
{
    static const QRegularExpression escapeLike(QStringLiteral("_(?=x[0-9A-Fa-f]{4}_)"));
    QString kept = text;
    kept.replace(escapeLike, QStringLiteral("_x005F_"));
    kept.replace(QChar(0xfffe), QStringLiteral("_xFFFE_"));
    kept.replace(QChar(0xffff), QStringLiteral("_xFFFF_"));
    return kept;
}

bool WriteWorkbook(
    const QString& path, const QStringList& columns, const QList<QList<OutputCell>>& rows, QString* why)
{
    // Its own temporary files beside the workbook: the system's default on Windows is the
    // root of the drive, which a user may not write.
    const QFileInfo info(path);
    const WorkInFolder folder(info.absolutePath());
    if (!folder.entered()) {
        *why = QStringLiteral("cannot work in %1").arg(QDir::toNativeSeparators(info.absolutePath()));
        return false;
    }
    char here[] = ".";
    lxw_workbook_options options {};
    options.tmpdir = here;
    std::unique_ptr<lxw_workbook, WorkbookCloser> workbook(
        workbook_new_opt(libraryName(info.fileName()).constData(), &options));
    lxw_worksheet* sheet = workbook ? workbook_add_worksheet(workbook.get(), nullptr) : nullptr;
    if (!sheet) {
        *why = QStringLiteral("cannot start a workbook");
        return false;
    }
    lxw_format* bold = workbook_add_format(workbook.get());
    format_set_bold(bold);
    lxw_format* hundredths = workbook_add_format(workbook.get());
    format_set_num_format(hundredths, "0.00");

    lxw_error error = LXW_NO_ERROR;
    const auto check = [&error](lxw_error result) {
        if (error == LXW_NO_ERROR)
            error = result;
    };
    for (int c = 0; c < columns.size(); ++c)
        check(worksheet_write_string(sheet, 0, lxw_col_t(c), columns.at(c).toUtf8().constData(), bold));
    for (int r = 0; r < rows.size(); ++r) {
        const QList<OutputCell>& row = rows.at(r);
        for (int c = 0; c < row.size(); ++c) {
            const OutputCell& cell = row.at(c);
            const lxw_row_t at = lxw_row_t(r + 1);
            if (cell.number)
                check(worksheet_write_number(sheet, at, lxw_col_t(c), *cell.number, hundredths));
            else if (!cell.text.isEmpty())
                check(worksheet_write_string(
                    sheet, at, lxw_col_t(c), WorkbookText(cell.text).toUtf8().constData(), nullptr));
        }
    }
    const QList<double> widths = WorkbookColumnWidths(columns, rows);
    for (int c = 0; c < widths.size(); ++c)
        check(worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c), widths.at(c), nullptr));
    worksheet_freeze_panes(sheet, 1, 0);
    if (!columns.isEmpty())
        check(worksheet_autofilter(sheet, 0, 0, lxw_row_t(rows.size()), lxw_col_t(columns.size() - 1)));
    if (error != LXW_NO_ERROR) {
        *why = QString::fromUtf8(lxw_strerror(error));
        return false;
    }
    const lxw_error closed = workbook_close(workbook.release());
    if (closed != LXW_NO_ERROR) {
        *why = QString::fromUtf8(lxw_strerror(closed));
        return false;
    }
    return true;
}
