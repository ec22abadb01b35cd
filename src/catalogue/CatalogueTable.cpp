#include "catalogue/CatalogueTable.h"

#include "catalogue/FilterExpression.h"

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
    const qsizetype record = shown_[index.row()];
    if (role == Qt::TextAlignmentRole) {
        const Qt::Alignment horizontal = index.column() == SizeMbColumn ? Qt::AlignRight : Qt::AlignLeft;
        return QVariant::fromValue(horizontal | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case NameColumn:
        return QString::fromUtf8(records_.Name(record));
    case SizeMbColumn:
        return SizeText(records_.Size_mb(record));
    case LastModifiedColumn:
        return DateTimeText(records_.Time(record).ToDateTime());
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
    records_.Clear();
    shown_ = std::vector<int>();
    currentRow_ = -1;
    if (suspensions_ == 0)
        endResetModel();
    NotifyCurrent();
}

void TCatalogueTable::TakeRecords(TCatalogueRecords records) {
    records_ = std::move(records);
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
    records_.Append(record);
    if (!IsShown(records_.Count() - 1))
        return;
    const int row = static_cast<int>(shown_.size());
    if (suspensions_ == 0)
        beginInsertRows({}, row, row);
    shown_.push_back(static_cast<int>(records_.Count()) - 1);
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

qsizetype TCatalogueTable::Current() const {
    return currentRow_ < 0 ? -1 : shown_[currentRow_];
}

QString TCatalogueTable::FieldAsText(TCatalogueField field) const {
    const qsizetype record = Current();
    if (record < 0)
        return {};
    switch (field) {
    case TCatalogueField::Name:
        return QString::fromUtf8(records_.Name(record));
    case TCatalogueField::LastModified:
        return QString::fromUtf8(records_.LastModified(record));
    case TCatalogueField::Size:
        return SizeText(records_.Size(record));
    case TCatalogueField::Path:
        return QString::fromUtf8(records_.Path(record));
    case TCatalogueField::Size_mb:
        return SizeText(records_.Size_mb(record));
    case TCatalogueField::LastModified_datatime:
        return DateTimeText(records_.Time(record).ToDateTime());
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
    records_.Erase(removed);
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
    const qsizetype record = shown_.at(row);
    return {QString::fromUtf8(records_.Name(record)),
            QString::fromUtf8(records_.LastModified(record)),
            records_.Size(record),
            QString::fromUtf8(records_.Path(record)),
            records_.Size_mb(record),
            records_.Time(record).ToDateTime()};
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

bool TCatalogueTable::IsShown(qsizetype index) const {
    return !filtered_ || !pattern_ || pattern_->Matches(records_.LowerName(index));
}

void TCatalogueTable::ShowFiltered() {
    if (suspensions_ == 0)
        beginResetModel();
    shown_.clear();
    for (int i = 0; i < static_cast<int>(records_.Count()); ++i) {
        if (IsShown(i))
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
