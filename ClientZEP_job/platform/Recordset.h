#pragma once

#include <QString>
#include <QVector>
#include <memory>

// An in-memory result table with text columns, in place of the ADO Recordset the jobs were written against:
// the callers walk it with Eof/Fields/Value/MoveNext and never see library rows. Errors are raised as VbError
// with ADO's numbers and texts, so a caller's message box reads as it always did.
//
// `EOF` is a macro of the C library, so the end-of-table test is spelled Eof().
class Recordset {
public:
    // Closes `rs` when it is open and drops it. Any error on the way is ignored: the table is going anyway.
    static void CloseRecordset(std::unique_ptr<Recordset>& rs);

    static constexpr int adBSTR = 8;
    static constexpr int adFldUnspecified = -1;
    static constexpr int adStateClosed = 0;
    static constexpr int adStateOpen = 1;
    static constexpr int adAffectAllChapters = 4;

    static constexpr int adErrItemNotFound = 3265;
    static constexpr int adErrNoCurrentRecord = 3021;
    static constexpr int adErrObjectInCollection = 3367;
    static constexpr int adErrObjectClosed = 3704;
    static constexpr int adErrIllegalOperation = 3219;

    // One column, seen through the record the cursor stands on.
    class Field {
    public:
        const QString& Name() const;
        int Type() const { return adBSTR; }
        int DefinedSize() const;
        int Attributes() const { return adFldUnspecified; }
        QString Value() const;
        void setValue(QStringView value);

    private:
        friend class Recordset;
        Field(Recordset* owner, int index) : owner_(owner), index_(index) {}
        Recordset* owner_;
        int index_;
    };

    class FieldsCollection {
    public:
        // Adds a column before the table is opened. A name already present (compared without regard to case)
        // is refused with error 3367.
        void Append(const QString& name, int type, int definedSize, int attributes);
        int Count() const;
        Field Item(int index) const;
        Field Item(const QString& name) const;

    private:
        friend class Recordset;
        explicit FieldsCollection(Recordset* owner) : owner_(owner) {}
        Recordset* owner_;
    };

    Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    FieldsCollection& Fields() { return fields_; }
    const FieldsCollection& Fields() const { return fields_; }

    void Open();
    void Close();
    int State() const { return open_ ? adStateOpen : adStateClosed; }

    // Appends an empty record and makes it current.
    void AddNew();
    // Nothing is pending in a table without a connection; kept so the fill reads as it always did.
    void UpdateBatch(int affectRecords = adAffectAllChapters);

    bool Eof() const;
    void MoveFirst();
    void MoveNext();
    int RecordCount() const;

private:
    struct Column {
        QString name;
        int definedSize;
    };

    void requireOpen() const;
    void requireCurrent() const;
    int columnIndex(const QString& name) const;

    // Every value lives in one text; a cell is its span there. A large result then costs a few allocations
    // instead of one per value, to fill and to free.
    struct Cell {
        qsizetype offset = 0;
        qsizetype length = 0;
    };
    Cell& cell(int column);
    const Cell& cell(int column) const;

    FieldsCollection fields_;
    QVector<Column> columns_;
    QString text_;
    QVector<Cell> cells_; // row-major, columns_.size() per record
    int records_ = 0;
    int current_ = 0; // 0-based; == records_ means EOF
    bool open_ = false;
};
