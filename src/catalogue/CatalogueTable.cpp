#include "catalogue/CatalogueTable.h"

#include "catalogue/FilterExpression.h"
#include "catalogue/NarrowText.h"

#include <QLocale>

#include <algorithm>

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
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int TCatalogueTable::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TCatalogueTable::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TStoredRecord& record = records_[shown_[index.row()]];
    if (role == Qt::TextAlignmentRole) {
        const Qt::Alignment horizontal = index.column() == SizeMbColumn ? Qt::AlignRight : Qt::AlignLeft;
        return QVariant::fromValue(horizontal | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case NameColumn:
        return QString::fromUtf8(record.Name);
    case SizeMbColumn:
        return SizeText(record.Size_mb);
    case LastModifiedColumn:
        return DateTimeText(record.LastModified_datatime);
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
    if (suspensions_ == 0)
        beginResetModel();
    records_.clear();
    shown_.clear();
    currentRow_ = -1;
    if (suspensions_ == 0)
        endResetModel();
    NotifyCurrent();
}

void TCatalogueTable::Append(const TCatalogueRecord& record) {
    TStoredRecord stored{ToNarrowField(record.Name, TextFieldWidth),
                         ToNarrowField(record.LastModified, TextFieldWidth),
                         record.Size,
                         ToNarrowField(record.Path, PathFieldWidth),
                         record.Size_mb,
                         record.LastModified_datatime,
                         {}};
    stored.lowerName = LowerNarrow(stored.Name);
    const bool shown = IsShown(stored);
    records_.push_back(std::move(stored));
    if (!shown)
        return;
    const int row = static_cast<int>(shown_.size());
    if (suspensions_ == 0)
        beginInsertRows({}, row, row);
    shown_.push_back(static_cast<int>(records_.size()) - 1);
    const bool becomesCurrent = currentRow_ < 0;
    if (becomesCurrent)
        currentRow_ = row;
    if (suspensions_ == 0)
        endInsertRows();
    if (becomesCurrent)
        NotifyCurrent();
}

void TCatalogueTable::MoveToFirst() {
    currentRow_ = shown_.empty() ? -1 : 0;
    NotifyCurrent();
}

bool TCatalogueTable::HasNoCurrentRecord() const {
    return currentRow_ < 0;
}

void TCatalogueTable::SetCurrentRow(int row) {
    if (row >= 0 && row < rowCount())
        currentRow_ = row;
}

const TCatalogueTable::TStoredRecord* TCatalogueTable::Current() const {
    return currentRow_ < 0 ? nullptr : &records_[shown_[currentRow_]];
}

QString TCatalogueTable::FieldAsText(TCatalogueField field) const {
    const TStoredRecord* record = Current();
    if (!record)
        return {};
    switch (field) {
    case TCatalogueField::Name:
        return QString::fromUtf8(record->Name);
    case TCatalogueField::LastModified:
        return QString::fromUtf8(record->LastModified);
    case TCatalogueField::Size:
        return SizeText(record->Size);
    case TCatalogueField::Path:
        return QString::fromUtf8(record->Path);
    case TCatalogueField::Size_mb:
        return SizeText(record->Size_mb);
    case TCatalogueField::LastModified_datatime:
        return DateTimeText(record->LastModified_datatime);
    }
    return {};
}

void TCatalogueTable::RemoveCurrentRecord() {
    if (currentRow_ < 0)
        return;
    const int row = currentRow_;
    const int removed = shown_[row];
    if (suspensions_ == 0)
        beginRemoveRows({}, row, row);
    records_.erase(records_.begin() + removed);
    shown_.erase(shown_.begin() + row);
    for (int& index : shown_) {
        if (index > removed)
            --index;
    }
    currentRow_ = std::min(row, rowCount() - 1);
    if (suspensions_ == 0)
        endRemoveRows();
    NotifyCurrent();
}

TCatalogueRecord TCatalogueTable::RecordAt(int row) const {
    const TStoredRecord& record = records_.at(shown_.at(row));
    return {QString::fromUtf8(record.Name),
            QString::fromUtf8(record.LastModified),
            record.Size,
            QString::fromUtf8(record.Path),
            record.Size_mb,
            record.LastModified_datatime};
}

void TCatalogueTable::SuspendView() {
    if (suspensions_++ == 0)
        beginResetModel();
}

void TCatalogueTable::ResumeView() {
    if (--suspensions_ > 0)
        return;
    endResetModel();
    // A reset clears the view's selection: tell it which row is current.
    emit CurrentRecordMoved(currentRow_);
}

void TCatalogueTable::SetFilterExpression(const QString& expression) {
    if (!filtered_) {
        filterExpression_ = expression;
        return;
    }
    std::optional<TLikePattern> pattern = ParseFilter(expression);
    filterExpression_ = expression;
    pattern_ = std::move(pattern);
    ShowFiltered();
}

void TCatalogueTable::SetFiltered(bool filtered) {
    if (filtered && !filtered_) {
        pattern_ = ParseFilter(filterExpression_);
        filtered_ = true;
        ShowFiltered();
    } else if (!filtered && filtered_) {
        filtered_ = false;
        pattern_.reset();
        ShowFiltered();
    } else {
        MoveToFirst();
    }
}

bool TCatalogueTable::IsShown(const TStoredRecord& record) const {
    return !filtered_ || !pattern_ || pattern_->Matches(record.lowerName);
}

void TCatalogueTable::ShowFiltered() {
    if (suspensions_ == 0)
        beginResetModel();
    shown_.clear();
    for (int i = 0; i < static_cast<int>(records_.size()); ++i) {
        if (IsShown(records_[i]))
            shown_.push_back(i);
    }
    currentRow_ = shown_.empty() ? -1 : 0;
    if (suspensions_ == 0)
        endResetModel();
    NotifyCurrent();
}

void TCatalogueTable::NotifyCurrent() {
    if (suspensions_ == 0)
        emit CurrentRecordMoved(currentRow_);
}
