#include "app/cli/SeriesTable.h"

#include "app/cli/TextFormat.h"
#include "app/cli/TreeOutput.h"
#include "scanning/DimensionsText.h"
#include "scanning/Patient.h"
#include "scanning/Series.h"
#include "scanning/Study.h"

#include <QAbstractItemModel>

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <vector>

namespace Dravelin::Cli {

namespace {

using namespace Dravelin::Dicom;

enum Column { PatientColumn, StudyColumn, SeriesColumn, ModalityColumn, ImagesColumn, DimensionsColumn, Columns };
using Row = std::array<QString, Columns>;

const Row kHeader = {"PATIENT", "STUDY", "SERIES", "MODALITY", "IMAGES", "DIMENSIONS"};
// Columns that give way, widest first, when the table is too wide; never below this width.
constexpr int kNarrowest = 6;

QString joined(const QString& a, const QString& b)
{
    return (a.trimmed() + ' ' + b.trimmed()).trimmed();
}

QString dimensionsOf(const Series& s)
{
    const auto text = [](const DimensionsInfo& d) {
        return d.width > 0 ? TextFormat::dimensions(d) : dimensionsText(d);
    };
    if (s.dimensions.empty())
        return text(s.estimatedDimensions);
    QStringList texts;
    for (const DimensionsInfo& d : s.dimensions)
        texts << text(d);
    return texts.join("; ");
}

Row rowOf(const Patient& p, const Study& st, const Series& s)
{
    QString name = p.patientName;
    name.replace('^', ' ');
    const QString patient = p.patientId.isEmpty()      ? name.trimmed()
                            : name.trimmed().isEmpty() ? p.patientId
                                                       : name.trimmed() + " (" + p.patientId + ")";
    const QString date = st.studyDate.isValid() ? st.studyDate.toString("yyyy-MM-dd") : QString();
    Row row = {patient,    joined(date, st.studyDescription), joined(s.seriesNumber, s.seriesDescription),
               s.modality, QString::number(s.images.size()),  dimensionsOf(s)};
    for (QString& cell : row)
        cell = TextFormat::printable(cell);
    return row;
}

QString elided(const QString& text, int width)
{
    return text.size() <= width ? text : text.left(width - 1) + QStringLiteral("…");
}

}  // namespace

int outputWidth()
{
    winsize size{};
    if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    bool ok = false;
    const int columns = qEnvironmentVariableIntValue("COLUMNS", &ok);
    return ok && columns > 0 ? columns : 120;
}

void printSeriesTable(QTextStream& out, const QAbstractItemModel& view, int width, bool checkBoxes)
{
    std::vector<Row> rows;
    std::vector<bool> checked;
    for (const ShownSeries& shown : shownSeries(view)) {
        rows.push_back(rowOf(*shown.patient, *shown.study, *shown.series));
        checked.push_back(shown.index.data(Qt::CheckStateRole).toInt() == Qt::Checked);
    }

    std::array<int, Columns> widths{};
    for (int c = 0; c < Columns; ++c) {
        widths[c] = kHeader[c].size();
        for (const Row& row : rows)
            widths[c] = std::max(widths[c], int(row[c].size()));
    }
    const auto total = [&] {
        int sum = (checkBoxes ? 4 : 0) + 2 * (Columns - 1);
        for (int w : widths)
            sum += w;
        return sum;
    };
    for (int excess = total() - width; excess > 0; --excess) {
        int* widest = nullptr;
        for (Column c : {PatientColumn, StudyColumn, SeriesColumn, DimensionsColumn})
            if (widths[c] > kNarrowest && (!widest || widths[c] > *widest))
                widest = &widths[c];
        if (!widest)
            break;
        --*widest;
    }

    const auto printRow = [&](const Row& row, const QString& box) {
        QString line = box;
        for (int c = 0; c < Columns; ++c) {
            const QString cell = elided(row[c], widths[c]);
            line += c == ImagesColumn ? cell.rightJustified(widths[c]) : cell.leftJustified(widths[c]);
            if (c + 1 < Columns)
                line += QLatin1String("  ");
        }
        while (line.endsWith(' '))
            line.chop(1);
        out << line << '\n';
    };
    printRow(kHeader, checkBoxes ? QStringLiteral("    ") : QString());
    for (size_t i = 0; i < rows.size(); ++i)
        printRow(rows[i], checkBoxes ? (checked[i] ? QStringLiteral("[x] ") : QStringLiteral("[ ] ")) : QString());
}

}  // namespace Dravelin::Cli
