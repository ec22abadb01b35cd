#include "catalogue/CatalogueTable.h"

#include "catalogue/CatalogueMatch.h"
#include "catalogue/FilterExpression.h"

#include <QLocale>

#include <algorithm>
#include <numeric>

namespace {

// The user's long time format without its time-zone name: the catalogue's times carry a fixed
// offset that the zone name would misstate.
QString LongTimeFormatWithoutZone(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != u't') {
            result.append(c);
            continue;
        }
        while (i + 1 < format.size() && format[i + 1] == u't')
            ++i;
    }
    return result.simplified();
}

// The pattern of a filter expression; none for a blank expression, which lets every record through.
std::optional<TLikePattern> ParseFilter(const QString& expression) {
    if (expression.trimmed().isEmpty())
        return std::nullopt;
    return ParseFilterExpression(expression);
}

QString SizeText(qint64 size) {
    return QString::number(size);
}

} // namespace

TCatalogueTable::TCatalogueTable(QObject* parent)
    : QAbstractTableModel(parent) {}

int TCatalogueTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FShown.size());
}

int TCatalogueTable::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TCatalogueTable::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const qsizetype record = FShown[index.row()];
    if (role == Qt::TextAlignmentRole) {
        const Qt::Alignment horizontal = index.column() == SizeMbColumn ? Qt::AlignRight : Qt::AlignLeft;
        return QVariant::fromValue(horizontal | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case NameColumn:
        return QString::fromUtf8(FRecords.Name(record));
    case SizeMbColumn:
        return SizeText(FRecords.Size_mb(record));
    case LastModifiedColumn:
        return DateTimeText(FRecords.Time(record).ToDateTime());
    default:
        return {};
    }
}

QVariant TCatalogueTable::headerData(int section, Qt::Orientation orientation, int role) const {
    // The rows' header is a narrow record indicator without numbers.
    if (orientation == Qt::Vertical && role == Qt::DisplayRole)
        return QString();
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case NameColumn:
        return QStringLiteral("Name");
    case SizeMbColumn:
        return QStringLiteral("Size MB");
    case LastModifiedColumn:
        return QStringLiteral("LastModified (real time)");
    default:
        return {};
    }
}

Qt::ItemFlags TCatalogueTable::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

QString TCatalogueTable::DateTimeText(const QDateTime& time) {
    const QLocale locale = QLocale::system();
    const QString date = locale.toString(time.date(), QLocale::ShortFormat);
    if (time.time() == QTime(0, 0))
        return date;
    return date + u' ' + locale.toString(time.time(), LongTimeFormatWithoutZone(locale));
}

void TCatalogueTable::Empty() {
    if (FSuspensions == 0)
        beginResetModel();
    FRecords.Clear();
    FShown = std::vector<int>();
    FCurrentRow = -1;
    if (FSuspensions == 0)
        endResetModel();
    NotifyCurrent();
}

void TCatalogueTable::TakeRecords(TCatalogueRecords records) {
    FRecords = std::move(records);
    ShowFiltered();
}

void TCatalogueTable::Append(const TCatalogueRecord& record) {
    const QByteArray name = record.Name.toUtf8();
    const QByteArray lastModified = record.LastModified.toUtf8();
    const QByteArray path = record.Path.toUtf8();
    AppendNarrow({name, lastModified, record.Size, path, record.Size_mb,
                  TRecordTime::FromDateTime(record.LastModified_datatime)});
}

void TCatalogueTable::AppendNarrow(const TNarrowRecord& record) {
    FRecords.Append(record);
    if (!IsShown(FRecords.Count() - 1))
        return;
    const int row = static_cast<int>(FShown.size());
    if (FSuspensions == 0)
        beginInsertRows({}, row, row);
    FShown.push_back(static_cast<int>(FRecords.Count()) - 1);
    const bool becomesCurrent = FCurrentRow < 0;
    if (becomesCurrent)
        FCurrentRow = row;
    if (FSuspensions == 0)
        endInsertRows();
    if (becomesCurrent)
        NotifyCurrent();
}

void TCatalogueTable::MoveToFirst() {
    FCurrentRow = FShown.empty() ? -1 : 0;
    NotifyCurrent();
}

bool TCatalogueTable::HasNoCurrentRecord() const {
    return FCurrentRow < 0;
}

void TCatalogueTable::SetCurrentRow(int row) {
    if (row >= 0 && row < rowCount())
        FCurrentRow = row;
}

qsizetype TCatalogueTable::Current() const {
    return FCurrentRow < 0 ? -1 : FShown[FCurrentRow];
}

QString TCatalogueTable::FieldAsText(TCatalogueField field) const {
    const qsizetype record = Current();
    if (record < 0)
        return {};
    switch (field) {
    case TCatalogueField::Name:
        return QString::fromUtf8(FRecords.Name(record));
    case TCatalogueField::LastModified:
        return QString::fromUtf8(FRecords.LastModified(record));
    case TCatalogueField::Size:
        return SizeText(FRecords.Size(record));
    case TCatalogueField::Path:
        return QString::fromUtf8(FRecords.Path(record));
    case TCatalogueField::Size_mb:
        return SizeText(FRecords.Size_mb(record));
    case TCatalogueField::LastModified_datatime:
        return DateTimeText(FRecords.Time(record).ToDateTime());
    }
    return {};
}

void TCatalogueTable::RemoveCurrentRecord() {
    if (FCurrentRow < 0)
        return;
    const int row = FCurrentRow;
    const int removed = FShown[row];
    if (FSuspensions == 0)
        beginRemoveRows({}, row, row);
    FRecords.Erase(removed);
    FShown.erase(FShown.begin() + row);
    for (int& index : FShown) {
        if (index > removed)
            --index;
    }
    FCurrentRow = std::min(row, rowCount() - 1);
    if (FSuspensions == 0)
        endRemoveRows();
    NotifyCurrent();
}

TCatalogueRecord TCatalogueTable::RecordAt(int row) const {
    const qsizetype record = FShown.at(row);
    return {QString::fromUtf8(FRecords.Name(record)),
            QString::fromUtf8(FRecords.LastModified(record)),
            FRecords.Size(record),
            QString::fromUtf8(FRecords.Path(record)),
            FRecords.Size_mb(record),
            FRecords.Time(record).ToDateTime()};
}

void TCatalogueTable::SuspendView() {
    if (FSuspensions++ == 0)
        beginResetModel();
}

void TCatalogueTable::ResumeView() {
    if (--FSuspensions > 0)
        return;
    endResetModel();
    // A reset clears the view's selection: tell it which row is current.
    emit CurrentRecordMoved(FCurrentRow);
}

void TCatalogueTable::SetFilterExpression(const QString& expression) {
    if (!FFiltered) {
        FFilterExpression = expression;
        return;
    }
    std::optional<TLikePattern> pattern = ParseFilter(expression);
    FFilterExpression = expression;
    FPattern = std::move(pattern);
    ShowFiltered();
}

void TCatalogueTable::SetFiltered(bool filtered) {
    if (filtered && !FFiltered) {
        FPattern = ParseFilter(FFilterExpression);
        FFiltered = true;
        ShowFiltered();
    } else if (!filtered && FFiltered) {
        FFiltered = false;
        FPattern.reset();
        ShowFiltered();
    } else {
        MoveToFirst();
    }
}

bool TCatalogueTable::IsShown(qsizetype index) const {
    return !FFiltered || !FPattern || FPattern->Matches(FRecords.LowerName(index));
}

void TCatalogueTable::ShowFiltered() {
    if (FSuspensions == 0)
        beginResetModel();
    // Exactly as many entries as rows: a vector grown by doubling would hold up to twice that.
    if (FFiltered && FPattern) {
        FShown = MatchingRecords(FRecords, *FPattern);
    } else {
        FShown = std::vector<int>(size_t(FRecords.Count()));
        std::iota(FShown.begin(), FShown.end(), 0);
    }
    FCurrentRow = FShown.empty() ? -1 : 0;
    if (FSuspensions == 0)
        endResetModel();
    NotifyCurrent();
}

void TCatalogueTable::NotifyCurrent() {
    if (FSuspensions == 0)
        emit CurrentRecordMoved(FCurrentRow);
}
