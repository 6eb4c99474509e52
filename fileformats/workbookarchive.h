// The parts of a workbook: a zip archive read from memory, and an entry's XML parsed as it
// unpacks, so that a large sheet is never held whole.
#pragma once

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include <unzip.h>

namespace workbook {

// minizip reads the archive from the bytes in memory, through its own I/O hooks.
struct MemoryFile {
    const QByteArray* bytes = nullptr;
    ZPOS64_T at = 0;
};

// An open archive and the entry being read from it.
class Archive {
public:
    explicit Archive(const QByteArray& bytes);
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    bool isOpen() const { return m_zip != nullptr; }
    // Part names are compared without case, as the workbook formats say.
    bool has(const QString& name);
    bool open(const QString& name, QString* why);
    // The next piece of the open entry: false on a problem; empty at its end.
    bool read(QByteArray* piece, QString* why);
    // A small entry, whole.
    bool readAll(const QString& name, QByteArray* out, QString* why);

private:
    MemoryFile m_file;
    unzFile m_zip = nullptr;
    QString m_name;
    qint64 m_read = 0;
};

// How a walk over an element's children goes on.
enum class Step { Child, End, Failed };

// An entry's XML, parsed as it unpacks.
class XmlEntry {
public:
    explicit XmlEntry(Archive* archive)
        : m_archive(archive)
    {
    }

    bool open(const QString& name, QString* why);
    // The next token; Invalid at the end of the document, or on a problem (then why is set).
    QXmlStreamReader::TokenType next(QString* why);
    // The next child element of the element being walked (Child, to be read or skipped
    // whole by the caller), or the walked element's end, or a problem.
    Step child(QString* why);
    // Past the end of the element just started.
    bool skip(QString* why);
    // The text of the element just started, its children's included, appended to out
    // within limit characters, and past its end.
    bool text(QString* out, int limit, QString* why);
    // False, with why the document ended inside an element.
    bool ended(QString* why);
    // Whether the document itself failed (not well-formed, damaged, ended early), rather
    // than a cell in it.
    bool broken() const { return m_broken; }

    bool isStart(const char* name) const;
    QString attribute(const char* name) const;
    // An attribute with a namespace prefix (r:id, office:value-type), by its local name.
    QString prefixed(const char* name) const;

    QXmlStreamReader xml;

private:
    Archive* m_archive;
    QString m_name;
    qint64 m_pending = 0; // bytes given to the parser since its last token
    bool m_ended = false;
    bool m_broken = false;
};

int depthStep(QXmlStreamReader::TokenType token);

}
