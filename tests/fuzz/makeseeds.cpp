// Writes the seed corpora of the fuzz targets: the edge cases each input path has to
// survive (sizes around every buffer boundary, malformed frames, hostile JSON and text).
// Run it on tests/fuzz/corpus after changing it, and commit what it wrote:
//   fuzz_makeseeds tests/fuzz/corpus
#include "deviceframe.h"
#include "netsetjson.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {
using namespace std::string_literals; // "a\0b"s keeps its NUL

fs::path g_root;
int g_written = 0;

void write(const char* target, const std::string& name, const std::string& bytes)
{
    const fs::path dir = g_root / target;
    fs::create_directories(dir);
    std::ofstream file(dir / name, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        fprintf(stderr, "makeseeds: cannot write %s\n", (dir / name).c_str());
        exit(1);
    }
    ++g_written;
}

// A reply DeviceFrame: command 0, length field of the whole datagram (saturated).
std::string replyFrame(const std::string& payload, unsigned char command = 0)
{
    const size_t length = std::min<size_t>(kFrameHeaderSize + payload.size(), 0xFFFF);
    std::string frame = "\x82"s + char(length >> 8) + char(length & 0xFF) + "\xF0"s + char(command)
        + "\xD0\x5E\x00\x00\x00\x01"s;
    return frame + payload;
}

std::string announceFrame(const std::string& text)
{
    return "\x82\x00\x09\x00\x00\x00\x00\xF0\x00\x00\x00"s + text;
}

// A reply frame of exactly total bytes (total >= 30): a JSON object padded in a string.
std::string paddedReply(size_t total)
{
    const std::string open = "ACK-{\"name\":\"";
    const std::string close = "\"}";
    return replyFrame(open + std::string(total - kFrameHeaderSize - open.size() - close.size(), 'n') + close);
}

// An announcement frame of exactly total bytes (total >= 11).
std::string paddedAnnouncement(size_t total)
{
    std::string text = "10.0.0.1@SN" + std::to_string(total) + "@";
    text.resize(total - kFrameHeaderSize, 'c');
    return announceFrame(text);
}

// A JSON reply body of exactly length bytes (length >= 9).
std::string paddedBody(size_t length)
{
    const std::string open = "{\"sn\":\"";
    const std::string close = "\"}";
    return open + std::string(length - open.size() - close.size(), 's') + close;
}

std::string nested(int depth, const std::string& inner)
{
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

const std::string kFullBody = "{\"name\":\"Device-01\",\"ip\":\"192.168.1.101\",\"sn\":\"SN0001\","
                              "\"mode\":\"MODEID0001\",\"mask\":\"255.255.255.0\",\"gw\":\"192.168.1.1\","
                              "\"libver\":\"1.2.3\"}";
const std::string k64Digits = "1234567890123456789012345678901234567890123456789012345678901234";
const std::string kInvalidUtf8 = "\xff\xfe\xc3\x28\xe2\x82\xed\xa0\x80\xc0\xaf\xf8\x88\x80\x80\x80"s;
const std::string kControls = "\x01\x02\x07\x08\t\n\x0b\x0c\r\x1b\x1f\x7f"s;

void replySeeds()
{
    const char* t = "reply";
    write(t, "empty", "");
    write(t, "len10_partial_header", replyFrame("").substr(0, 10));
    write(t, "len11_header_only", replyFrame(""));
    write(t, "len15_too_short", replyFrame("ab-c"));
    write(t, "len16_shortest", replyFrame("AC-{}"));
    for (size_t n : { 127, 128, 129, 1399, 1400, 1401, 2000 })
        write(t, "len" + std::to_string(n), paddedReply(n));
    write(t, "full_reply", replyFrame("ACK-" + kFullBody));
    write(t, "nul_before_dash", replyFrame("AC\0K-{\"name\":\"a\"}"s));
    write(t, "nul_in_body", replyFrame("ACK-{\"name\":\"a\0b\"}"s));
    write(t, "no_dash", replyFrame("{\"name\":\"dev\",\"sn\":\"1\"}"));
    write(t, "several_dashes", replyFrame("a-b-c-{\"name\":\"Device-01\",\"sn\":\"SN-1\"}"));
    write(t, "dashes_only", replyFrame("------"));
    write(t, "json_unterminated", replyFrame("ACK-{\"name\":\"dev"));
    write(t, "json_truncated", replyFrame("ACK-{\"name\":\"dev\",\"sn\":"));
    write(t, "nesting_1000_open", replyFrame("ACK-{\"name\":" + std::string(1000, '[')));
    write(t, "nesting_600_closed", replyFrame("ACK-{\"name\":" + nested(600, "1") + "}"));
    write(t, "duplicate_keys",
        replyFrame("ACK-{\"name\":\"first\",\"name\":\"second\",\"sn\":\"1\",\"sn\":\"2\"}"));
    write(t, "case_variant_keys",
        replyFrame("ACK-{\"NAME\":\"A\",\"Sn\":\"B\",\"iP\":\"C\",\"MODE\":\"MODEXYZ\",\"LibVer\":\"1\"}"));
    write(t, "invalid_utf8",
        replyFrame("ACK-{\"name\":\"" + kInvalidUtf8 + "\",\"sn\":\"" + kInvalidUtf8 + "\"}"));
    write(t, "control_chars", replyFrame("A" + kControls + "-{\"name\":\"" + kControls + "\"}"));
    write(t, "escapes", replyFrame("ACK-{\"name\":\"\\u0000x\",\"sn\":\"\\ud800\",\"ip\":\"\\\"\\\\\"}"));
    write(t, "number_64_digits", replyFrame("ACK-{\"name\":" + k64Digits + ",\"sn\":1e999,\"ip\":-0}"));
    for (size_t n : { 511, 512, 513 })
        write(t, "body" + std::to_string(n), replyFrame("A-" + paddedBody(n)));
    std::string frame = replyFrame("ACK-" + kFullBody);
    frame[0] = char(0x83);
    write(t, "wrong_start_byte", frame);
    frame = replyFrame("ACK-" + kFullBody);
    frame[3] = char(0xF1);
    write(t, "wrong_marker", frame);
    write(t, "command_1", replyFrame("ACK-" + kFullBody, 1));
    frame = replyFrame("ACK-" + kFullBody);
    frame[1] = frame[2] = char(0xFF);
    write(t, "length_field_wrong", frame);
    write(t, "announcement_on_reply_port", announceFrame("10.0.0.1@SN@ID"));
}

void announceSeeds()
{
    const char* t = "announce";
    write(t, "empty", "");
    write(t, "len10_partial_header", announceFrame("").substr(0, 10));
    write(t, "len11_header_only", announceFrame(""));
    for (size_t n : { 15, 16, 127, 128, 129, 1399, 1400, 1401 })
        write(t, "len" + std::to_string(n), paddedAnnouncement(n));
    write(t, "four_fields", announceFrame("192.168.1.20@SN0001@ID7@extra"));
    write(t, "no_at", announceFrame("192.168.1.20"));
    write(t, "several_at", announceFrame("@@X@@@@@@"));
    write(t, "nul_in_text", announceFrame("1.2.3.4\0@SN@ID"s));
    write(t, "invalid_utf8", announceFrame(kInvalidUtf8 + "@\xe9@" + kInvalidUtf8));
    write(t, "control_chars", announceFrame(kControls + "@" + kControls + "@\x1b[31m"));
    write(t, "number_64_digits", announceFrame(k64Digits + "@" + k64Digits));
    write(t, "json_text", announceFrame(kFullBody.substr(0, 100)));
    std::string frame = announceFrame("10.0.0.1@SN@ID");
    frame[7] = char(0xF1);
    write(t, "wrong_marker", frame);
    frame = announceFrame("10.0.0.1@SN@ID");
    frame[8] = 1;
    write(t, "wrong_byte8", frame);
    frame = announceFrame("10.0.0.1@SN@ID");
    frame[0] = 0x02;
    write(t, "wrong_start_byte", frame);
    write(t, "reply_on_announce_port", replyFrame("ACK-" + kFullBody).substr(0, 128));
}

void slotSeeds()
{
    const char* t = "slot";
    const std::string text = "\x00"s;
    const std::string json = "\x01"s;
    write(t, "empty", "");
    write(t, "text_only_kind", text);
    write(t, "json_only_kind", json);
    write(t, "text_four_fields", text + "192.168.1.20@SN0001@ID7@extra");
    write(t, "text_no_at", text + "192.168.1.20");
    write(t, "text_two_at", text + "@@X");
    write(t, "text_at_only", text + "@@@@@@@@@@");
    write(t, "text_nul", text + "1.2.3.4\0@SN@ID"s);
    write(t, "text_latin1", text + "\xe9@" + kInvalidUtf8 + "@x");
    write(t, "text_control_chars", text + kControls + "@" + kControls);
    write(t, "text_number_64_digits", text + k64Digits);
    write(t, "text_len128", text + std::string(127, 'a'));
    write(t, "text_len1401", text + std::string(1400, '@'));
    write(t, "json_full", json + kFullBody);
    write(t, "json_kind2", "\x02"s + kFullBody);
    write(t, "json_kind255", "\xff"s + kFullBody);
    write(t, "json_libver_only", json + "{\"libver\":\"1\"}");
    write(t, "json_upper_name_in_text", json + "xx{\"NAME\":\"A\"}yy");
    write(t, "json_ip_sn_libver", json + "{\"ip\":\"1.2.3.4\",\"sn\":\"S\",\"libver\":2}");
    write(t, "json_mode_lengths", json + "{\"mode\":\"ABCDEFG\",\"name\":\"MODE\"}");
    write(t, "json_mode_short", json + "{\"mode\":\"ABC\"}");
    write(t, "json_non_strings",
        json + "{\"name\":null,\"sn\":[1,2],\"ip\":{\"a\":1},\"mode\":true,\"libver\":false}");
    write(t, "json_mode_number", json + "{\"mode\":12345678}");
    write(t, "json_no_brace", json + "\"name\":\"x\"");
    write(t, "json_brace_only", json + "{");
    write(t, "json_empty_object", json + "{}");
    write(t, "json_empty_key", json + "{\"\":\"x\",\"name\":\"\"}");
    write(t, "json_text_after", json + "{\"sn\":\"1\"} trailing {\"sn\":\"2\"}");
    write(t, "json_unterminated", json + "{\"name\":\"dev");
    write(t, "json_truncated", json + "{\"name\":\"dev\",\"sn\":");
    write(t, "json_nul_in_string", json + "{\"name\":\"a\0b\"}"s);
    write(t, "json_duplicate_keys", json + "{\"sn\":\"first\",\"sn\":\"second\",\"SN\":\"third\"}");
    write(t, "json_case_variants",
        json + "{\"Name\":\"a\",\"sN\":\"b\",\"IP\":\"c\",\"mOdE\":\"MODEd\",\"LIBVER\":1}");
    write(t, "json_invalid_utf8",
        json + "{\"name\":\"" + kInvalidUtf8 + "\",\"mode\":\"\xe9\xe9\xe9\xe9\xe9\"}");
    write(t, "json_control_chars", json + "{\"name\":\"" + kControls + "\"}");
    write(t, "json_escapes",
        json
            + "{\"name\":\"\\u0000x\",\"sn\":\"\\ud800\",\"ip\":\"\\ud83d\\ude00\",\"mode\":"
              "\"\\udc00\\u12\"}");
    write(t, "json_number_64_digits", json + "{\"name\":" + k64Digits + ",\"sn\":1e999,\"ip\":-0.0e-999}");
    for (int depth : { 999, 1000, 1001 })
        write(t, "json_nesting" + std::to_string(depth), json + "{\"name\":" + nested(depth - 1, "1") + "}");
    write(t, "json_nesting_unclosed", json + "{\"name\":" + std::string(3000, '['));
    for (size_t n : { 10, 11, 15, 16, 127, 128, 129, 1399, 1400, 1401 })
        write(t, "json_len" + std::to_string(n), json + paddedBody(n - 1));
    write(t, "json_long_mode", json + "{\"mode\":\"" + std::string(4000, 'm') + "\"}");
}

// The set-network text for sn, mask and gw, with the address the fuzz target uses.
size_t netSetLength(const std::string& sn, const std::string& mask, const std::string& gw)
{
    NetSetParam param;
    param.net = 1;
    param.ip = "192.168.1.100";
    param.mask = mask.c_str();
    param.gw = gw.c_str();
    int err = 0;
    std::unique_ptr<char, decltype(&free)> text(BuildNetSetJson(&param, sn.c_str(), &err), &free);
    return text ? strlen(text.get()) : 0;
}

void netsetSeeds()
{
    const char* t = "netset";
    const std::string mask = "255.255.255.0";
    const std::string gw = "192.168.1.1";
    write(t, "empty", "");
    write(t, "typical", "SN0001\0"s + mask + "\0"s + gw);
    write(t, "serial_only", "SN0001");
    write(t, "serial_and_mask", "SN0001\0"s + mask);
    write(t, "all_empty", "\0\0"s);
    write(t, "extra_part", "SN0001\0"s + mask + "\0"s + gw + "\0extra"s);
    write(t, "quotes_backslashes", "a\"b\\c\0\"\"\0\\"s);
    write(t, "json_injection", "x\",\"sn\":\"evil\0\"}\0\",\"gw\":\"1.1.1.1"s);
    write(t, "control_chars", kControls + "\0"s + kControls + "\0"s + kControls);
    write(t, "invalid_utf8", kInvalidUtf8 + "\0"s + kInvalidUtf8 + "\0"s + kInvalidUtf8);
    write(t, "escape_lookalikes", "\\u0000\0\\ud800\0\\"s);
    write(t, "number_64_digits", k64Digits + "\0"s + k64Digits + "\0"s + k64Digits);
    // Serial numbers that make the text exactly as long as a frame can carry, and one more.
    const size_t base = netSetLength("", mask, gw);
    for (size_t length : { size_t(kMaxFramePayload), size_t(kMaxFramePayload) + 1 }) {
        const std::string sn(length - base, '7');
        if (netSetLength(sn, mask, gw) != length) {
            fprintf(stderr, "makeseeds: set-network text is not %zu bytes\n", length);
            exit(1);
        }
        write(t, "text" + std::to_string(length), sn + "\0"s + mask + "\0"s + gw);
    }
    // Each control character grows sixfold when escaped.
    write(t, "escapes_overflow", std::string(240, '\x01') + "\0"s + mask + "\0"s + gw);
    for (size_t n : { 10, 11, 15, 16, 127, 128, 129, 1399, 1400, 1401 })
        write(t, "len" + std::to_string(n), std::string(n, 'S'));
}
// A zip archive of the entries, stored rather than deflated, so that the fuzzer's mutations
// reach the XML (a mutated entry fails its checksum only once it has been read).
std::string storedZip(const std::vector<std::pair<std::string, std::string>>& entries)
{
    const auto crc32 = [](const std::string& bytes) {
        uint32_t crc = 0xFFFFFFFF;
        for (unsigned char c : bytes) {
            crc ^= c;
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
        }
        return ~crc;
    };
    const auto le = [](uint32_t v, int bytes) {
        std::string out;
        for (int k = 0; k < bytes; ++k)
            out += char((v >> (8 * k)) & 0xFF);
        return out;
    };
    std::string zip, directory;
    for (const auto& [name, bytes] : entries) {
        const std::string common = le(20, 2) + le(0, 2) + le(0, 2) + le(0, 4) + le(crc32(bytes), 4)
            + le(uint32_t(bytes.size()), 4) + le(uint32_t(bytes.size()), 4) + le(uint32_t(name.size()), 2)
            + le(0, 2);
        directory += "PK\x01\x02"s + le(20, 2) + common + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 4)
            + le(uint32_t(zip.size()), 4) + name;
        zip += "PK\x03\x04"s + common + name + bytes;
    }
    return zip + directory + "PK\x05\x06"s + le(0, 4) + le(uint32_t(entries.size()), 2)
        + le(uint32_t(entries.size()), 2) + le(uint32_t(directory.size()), 4) + le(uint32_t(zip.size()), 4)
        + le(0, 2);
}

// An .ods of the rows given (the XML inside table:table).
std::string ods(const std::string& rows)
{
    return storedZip({ { "mimetype", "application/vnd.oasis.opendocument.spreadsheet" },
        { "content.xml",
            "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
            "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
            "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body><office:spreadsheet>"
            "<table:table>"
                + rows + "</table:table></office:spreadsheet></office:body></office:document-content>" } });
}

std::string odsCell(const std::string& text, const std::string& attributes = "")
{
    return "<table:table-cell office:value-type=\"string\"" + attributes + "><text:p>" + text
        + "</text:p></table:table-cell>";
}

const std::string kOdsHead = "<table:table-row>" + odsCell("sn") + odsCell("ip") + "</table:table-row>";
const std::string kOdsPlanRow
    = "<table:table-row>" + odsCell("SN1") + odsCell("10.0.0.2") + "</table:table-row>";

// An .xlsx of the rows given (the XML inside sheetData), and shared strings.
std::string xlsx(const std::string& rows, const std::string& shared = "<si><t>sn</t></si><si><t>ip</t></si>",
    const std::string& styles = "")
{
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    return storedZip({ { "[Content_Types].xml", "<Types/>" },
        { "xl/workbook.xml", "<workbook xmlns:r=\"r\"><sheets><sheet r:id=\"rId1\"/></sheets></workbook>" },
        { "xl/_rels/workbook.xml.rels",
            "<Relationships><Relationship Id=\"rId1\" Type=\"" + rel
                + "worksheet\" Target=\"s.xml\"/><Relationship Id=\"rId2\" Type=\"" + rel
                + "sharedStrings\" Target=\"t.xml\"/><Relationship Id=\"rId3\" Type=\"" + rel
                + "styles\" Target=\"y.xml\"/></Relationships>" },
        { "xl/s.xml", "<worksheet><sheetData>" + rows + "</sheetData></worksheet>" },
        { "xl/t.xml", "<sst>" + shared + "</sst>" },
        { "xl/y.xml",
            "<styleSheet><cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/></cellXfs>" + styles
                + "</styleSheet>" } });
}

const std::string kXlsxHead
    = "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c></row>";

std::string xlsxCell(const std::string& reference, const std::string& text)
{
    return "<c r=\"" + reference + "\" t=\"inlineStr\"><is><t>" + text + "</t></is></c>";
}

// One workbook per limit of the workbook reader, at it or just past it, with the counts and
// numbers that once wrapped (2^31, 2^32, 2^63-1).
void planSeeds()
{
    const char* t = "plan";
    const std::string max = "9223372036854775807";
    const auto repeatedCell = [](const std::string& count) {
        return "<table:table-row>" + odsCell("SN1")
            + odsCell("x", " table:number-columns-repeated=\"" + count + "\"") + "</table:table-row>";
    };
    write(t, "ods_columns_repeated_2p63", ods(kOdsHead + repeatedCell(max)));
    write(t, "ods_columns_repeated_2p31", ods(kOdsHead + repeatedCell("2147483648")));
    write(t, "ods_columns_repeated_to_xfd", ods(kOdsHead + repeatedCell("16383") + kOdsPlanRow));
    write(t, "ods_columns_wrap",
        ods(kOdsHead
            + "<table:table-row><table:table-cell table:number-columns-repeated=\"16777216\"/>"
              "<table:table-cell table:number-columns-repeated=\"9223372036837998597\"/>"
            + odsCell("x") + "</table:table-row>"));
    write(t, "ods_rows_repeated_2p63_twice",
        ods(kOdsHead + "<table:table-row table:number-rows-repeated=\"" + max
            + "\"><table:table-cell/></table:table-row><table:table-row table:number-rows-repeated=\"" + max
            + "\"/>" + kOdsPlanRow));
    write(t, "ods_rows_repeated_to_200000",
        ods(kOdsHead + "<table:table-row table:number-rows-repeated=\"199998\"/>" + kOdsPlanRow
            + "<table:table-row table:number-rows-repeated=\"4294967296\"/>"));
    write(t, "ods_rows_repeated_to_sheet_end",
        ods(kOdsHead + kOdsPlanRow + "<table:table-row table:number-rows-repeated=\"1048574\"/>"
            + kOdsPlanRow));
    write(t, "ods_counts_not_numbers",
        ods(kOdsHead + "<table:table-row table:number-rows-repeated=\" +2 \">" + odsCell("SN1")
            + odsCell("10.0.0.2", " table:number-columns-repeated=\"-1\"") + "</table:table-row>"));
    write(t, "ods_spaces_32767",
        ods(kOdsHead + "<table:table-row>" + odsCell("SN1")
            + "<table:table-cell><text:p><text:s text:c=\"16383\"/>"
            + "</text:p><text:p><text:s text:c=\"16383\"/></text:p></table:table-cell></table:table-row>"));
    write(t, "ods_spaces_2p63",
        ods(kOdsHead + "<table:table-row>" + odsCell("SN1") + odsCell("<text:s text:c=\"" + max + "\"/>")
            + "</table:table-row>"));
    write(t, "ods_text_budget",
        ods(kOdsHead
            + "<table:table-row table:number-rows-repeated=\"200000\"><table:table-cell "
              "table:number-columns-repeated=\"16384\"><text:p><text:s text:c=\"32767\"/></text:p>"
              "</table:table-cell></table:table-row>"));
    write(t, "ods_problem_budget",
        ods(kOdsHead
            + "<table:table-row table:number-rows-repeated=\"40\"><table:table-cell "
              "table:formula=\"of:=1\" table:number-columns-repeated=\"16384\"/></table:table-row>"));
    write(t, "xlsx_row_2p63_then_unnumbered",
        xlsx(kXlsxHead + "<row r=\"" + max + "\"><c><v>1</v></c></row><row><c><v>1</v></c></row>"));
    write(t, "xlsx_last_row_then_unnumbered",
        xlsx(kXlsxHead + "<row r=\"1048576\"><c r=\"XFD1048576\"/></row><row><c><v>1</v></c></row>"));
    write(t, "xlsx_last_plan_cell",
        xlsx(kXlsxHead + "<row r=\"200000\">" + xlsxCell("A200000", "SN1") + xlsxCell("B200000", "10.0.0.2")
            + xlsxCell("XFD200000", "x") + "</row><row r=\"200001\">" + xlsxCell("A200001", "SN2")
            + "</row>"));
    write(t, "xlsx_reference_past_xfd", xlsx(kXlsxHead + "<row r=\"2\">" + xlsxCell("XFE2", "x") + "</row>"));
    write(t, "xlsx_reference_past_last_row",
        xlsx(kXlsxHead + "<row r=\"2\">" + xlsxCell("A1048577", "y") + xlsxCell("AAAA2", "w") + "</row>"));
    write(t, "xlsx_unreferenced_cells_past_xfd",
        xlsx(kXlsxHead + "<row r=\"2\"><c r=\"XFC2\"/><c/><c><v>7</v></c></row>"));
    write(
        t, "xlsx_shared_index_2p31", xlsx(kXlsxHead + "<row r=\"2\"><c t=\"s\"><v>2147483648</v></c></row>"));
    write(t, "xlsx_style_and_number_indexes",
        xlsx(kXlsxHead
                + "<row r=\"2\"><c s=\"4294967296\"><v>1</v></c><c s=\"1\"><v>45000</v></c>"
                  "<c><v>1E+2147483648</v></c><c><v>1E-9223372036854775807</v></c></row>",
            "<si><t>sn</t></si><si><t>ip</t></si>",
            "<numFmts><numFmt numFmtId=\"4294967296\" formatCode=\"yyyy\"/></numFmts>"));
    write(t, "xlsx_shared_string_repeated",
        xlsx(kXlsxHead
                + "<row r=\"2\"><c t=\"s\"><v>2</v></c><c t=\"s\"><v>2</v></c><c t=\"s\"><v>2</v></c></row>",
            "<si><t>sn</t></si><si><t>ip</t></si><si><t>" + std::string(2000, 'x') + "</t></si>"));
}
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: fuzz_makeseeds CORPUS_DIR\n");
        return 2;
    }
    g_root = argv[1];
    replySeeds();
    announceSeeds();
    slotSeeds();
    netsetSeeds();
    planSeeds();
    printf("wrote %d seeds under %s\n", g_written, g_root.c_str());
    return 0;
}
