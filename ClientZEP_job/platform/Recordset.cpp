#include "Recordset.h"

#include "VbError.h"

namespace {

[[noreturn]] void raise(int number, const char* source) {
    const char* text = "";
    switch (number) {
    case Recordset::adErrItemNotFound:
        text = "Item cannot be found in the collection corresponding to the requested name or ordinal.";
        break;
    case Recordset::adErrNoCurrentRecord:
        text =
            "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires "
            "a current record.";
        break;
    case Recordset::adErrObjectInCollection:
        text = "Object already in collection. Cannot append.";
        break;
    case Recordset::adErrObjectClosed:
        text = "Operation is not allowed when the object is closed.";
        break;
    case Recordset::adErrIllegalOperation:
        text = "Operation is not allowed in this context.";
        break;
    }
    throw VbError(number, QString::fromLatin1(source), QString::fromLatin1(text));
}

} // namespace

Recordset::Recordset() : fields_(this) {}

const QString& Recordset::Field::Name() const {
    return owner_->columns_[index_].name;
}

int Recordset::Field::DefinedSize() const {
    return owner_->columns_[index_].definedSize;
}

QString Recordset::Field::Value() const {
    const Cell& c = owner_->cell(index_);
    return owner_->text_.mid(c.offset, c.length);
}

void Recordset::Field::setValue(QStringView value) {
    Cell& c = owner_->cell(index_);
    c.offset = owner_->text_.size();
    c.length = value.size();
    owner_->text_.append(value);
}

void Recordset::FieldsCollection::Append(const QString& name, int, int definedSize, int) {
    if (owner_->open_)
        raise(adErrIllegalOperation, "ADODB.Fields");
    if (owner_->columnIndex(name) >= 0)
        raise(adErrObjectInCollection, "ADODB.Fields");
    owner_->columns_.append({name, definedSize});
}

int Recordset::FieldsCollection::Count() const {
    return int(owner_->columns_.size());
}

Recordset::Field Recordset::FieldsCollection::Item(int index) const {
    if (index < 0 || index >= owner_->columns_.size())
        raise(adErrItemNotFound, "ADODB.Fields");
    return Field(owner_, index);
}

Recordset::Field Recordset::FieldsCollection::Item(const QString& name) const {
    const int index = owner_->columnIndex(name);
    if (index < 0)
        raise(adErrItemNotFound, "ADODB.Fields");
    return Field(owner_, index);
}

void Recordset::Open() {
    if (open_)
        raise(adErrIllegalOperation, "ADODB.Recordset");
    open_ = true;
    current_ = 0;
}

void Recordset::Close() {
    requireOpen();
    open_ = false;
    cells_.clear();
    text_.clear();
    records_ = 0;
    current_ = 0;
}

void Recordset::AddNew() {
    requireOpen();
    // QList::resize grows to the exact size: without room to spare, every record would copy the whole table.
    // A result read row by row has no count to reserve by, so the room doubles.
    const qsizetype needed = cells_.size() + columns_.size();
    if (needed > cells_.capacity())
        cells_.reserve(qMax(needed, 2 * cells_.capacity()));
    cells_.resize(needed);
    current_ = records_++;
}

void Recordset::UpdateBatch(int) {
    requireOpen();
}

bool Recordset::Eof() const {
    requireOpen();
    return current_ >= records_;
}

void Recordset::MoveFirst() {
    requireOpen();
    current_ = 0;
}

void Recordset::MoveNext() {
    requireCurrent();
    ++current_;
}

int Recordset::RecordCount() const {
    requireOpen();
    return records_;
}

void Recordset::requireOpen() const {
    if (!open_)
        raise(adErrObjectClosed, "ADODB.Recordset");
}

void Recordset::requireCurrent() const {
    requireOpen();
    if (current_ >= records_)
        raise(adErrNoCurrentRecord, "ADODB.Recordset");
}

int Recordset::columnIndex(const QString& name) const {
    // Column names are looked up as the table always did: without regard to case. Append keeps names apart
    // without regard to case, so a name spelt exactly as a column's can only be that column, and callers
    // spell them so: an exact comparison first spares the case-blind one on every read.
    for (int i = 0; i < columns_.size(); ++i) {
        if (columns_[i].name == name)
            return i;
    }
    for (int i = 0; i < columns_.size(); ++i) {
        if (columns_[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

Recordset::Cell& Recordset::cell(int column) {
    requireCurrent();
    return cells_[current_ * columns_.size() + column];
}

const Recordset::Cell& Recordset::cell(int column) const {
    requireCurrent();
    return cells_[current_ * columns_.size() + column];
}

void Recordset::CloseRecordset(std::unique_ptr<Recordset>& rs) {
    if (rs && rs->State() == Recordset::adStateOpen)
        rs->Close();
    rs.reset();
}
