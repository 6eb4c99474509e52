// The first sheet of each workbook format, from its open archive, as the plan's records.
#pragma once

#include "csvrecords.h"

#include <QList>

namespace workbook {
class Archive;

bool ReadXlsx(Archive* archive, QList<CsvFileRecord>* records, TextProblem* problem);
bool ReadOds(Archive* archive, QList<CsvFileRecord>* records, TextProblem* problem);
}
