#include "ContactList.h"

#include "ErrorLog.h"
#include "NumericText.h"
#include "VbError.h"

#include <QSet>
#include <array>
#include <limits>

namespace {

// A user-list record or notice that cannot be taken: the error text names the data, and the rest goes on.
void logDataError(const VbError& error, const QString& procedure, const QString& data) {
    ErrorLog::WriteToFile(
        VbErrors::trappedText(error, procedure, QStringLiteral("Form"), QStringLiteral("frmMain")) +
        QStringLiteral("(Data:") + data + QLatin1Char(')'));
}

VbError standardError(int number) {
    return VbError(number, QString(), VbErrors::describe(number));
}

// A column that must be a whole number: error 13 when it is not one, 6 when it does not fit.
template <typename T> T wholeColumn(QStringView text) {
    const auto value = NumericText::wholeNumber(text);
    if (!value)
        throw standardError(VbErrors::TypeMismatch);
    const auto narrowed = NumericText::narrow<T>(value);
    if (!narrowed)
        throw standardError(VbErrors::Overflow);
    return *narrowed;
}

constexpr int ColumnsPerRecord = 9;

// The next CR LF-terminated line of `text` from `from` (the whole rest when there is no CR LF); moves `from`
// past it, or to -1 after the last line.
QStringView nextLine(QStringView text, qsizetype& from) {
    qsizetype search = from;
    for (;;) {
        const qsizetype lf = text.indexOf(u'\n', search);
        if (lf < 0) {
            const QStringView line = text.mid(from);
            from = -1;
            return line;
        }
        if (lf > from && text[lf - 1] == u'\r') {
            const QStringView line = text.mid(from, lf - 1 - from);
            from = lf + 1;
            return line;
        }
        search = lf + 1;
    }
}

// The first ColumnsPerRecord TAB-separated columns of `line`; returns how many there are (at most that many).
qsizetype splitColumns(QStringView line, std::array<QStringView, ColumnsPerRecord>& columns) {
    qsizetype found = 0, from = 0;
    while (found < ColumnsPerRecord) {
        const qsizetype tab = line.indexOf(u'\t', from);
        columns[size_t(found++)] = line.mid(from, tab < 0 ? -1 : tab - from);
        if (tab < 0)
            break;
        from = tab + 1;
    }
    return found;
}

} // namespace

QString ContactList::GetDeptName(qint16 code) {
    switch (code) {
    case 0:
        return QStringLiteral("기타");
    case 1:
        return QStringLiteral("[대구]영업/고객관리팀");
    case 2:
        return QStringLiteral("관리부");
    case 3:
        return QStringLiteral("기술개발팀");
    case 4:
        return QStringLiteral("[서울]영업전략팀");
    case 5:
        return QStringLiteral("대표");
    default:
        return QStringLiteral("???");
    }
}

void ContactList::InitUserTree() {
    OnlineCount = 0;
    tree_.clear();
    for (qint16 code = 1; code <= 5; ++code) {
        const QString name = GetDeptName(code);
        if (!name.isEmpty())
            tree_.add(QString(), groupKey(code), name, ContactTree::GroupImage);
    }
    tree_.add(QString(), groupKey(0), GetDeptName(0), ContactTree::GroupImage);
}

bool ContactList::hasUserNodes() const {
    for (const TreeNode& n : tree_.nodes())
        if (!n.parentKey.isEmpty())
            return true;
    return false;
}

void ContactList::changeOnlineCount(int delta) {
    const int next = int(OnlineCount) + delta;
    OnlineCount =
        qint16(std::clamp<int>(next, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max()));
}

void ContactList::Proc_CL_List(const QString& body, qint32 myUserId) {
    // A second list replaces the first: start again from the bare groups so no node is doubled.
    if (hasUserNodes())
        InitUserTree();

    qsizetype next = 0;
    const qint32 announced = std::max<qint32>(0, NumericText::leadingNumberAs<qint32>(nextLine(body, next)));

    UserList = QList<UserInfo>{UserInfo{}};
    // Room for what is announced, but not blindly: the count line is not trusted.
    UserList.reserve(std::min<qint32>(announced, 100000) + 1);
    QSet<qint32> seen;
    seen.reserve(UserList.capacity());
    const QString groupKeys[] = {groupKey(0), groupKey(1), groupKey(2),
                                 groupKey(3), groupKey(4), groupKey(5)};

    while (next >= 0) {
        const QStringView text = nextLine(body, next);
        if (text.trimmed().isEmpty())
            continue; // the empty line after a trailing CR LF, or a stray blank line
        try {
            std::array<QStringView, ColumnsPerRecord> columns;
            if (splitColumns(text, columns) < ColumnsPerRecord)
                throw standardError(VbErrors::SubscriptOutOfRange);
            UserInfo user;
            user.UserId = wholeColumn<qint32>(columns[0]);
            user.Column1Text = columns[1].toString();
            user.Name = columns[4].toString();
            user.Column5Text = columns[5].toString();
            user.DeptCode = wholeColumn<qint32>(columns[3]);
            user.NodeIndex = qint16(std::min(tree_.count() + 1, int(std::numeric_limits<qint16>::max())));
            user.Status = wholeColumn<qint16>(columns[6]);
            user.LoginText = columns[7].toString();
            user.LoginNumber = wholeColumn<qint32>(columns[8]);

            if (seen.contains(user.UserId))
                throw VbError(35602, QString(), QStringLiteral("Key is not unique in collection"));
            seen.insert(user.UserId);
            UserList.append(std::move(user));

            const UserInfo& added = UserList.constLast();
            if (added.UserId == myUserId)
                continue;
            // A department without a group of its own is shown under "기타".
            const QString& parent =
                added.DeptCode >= 1 && added.DeptCode <= 5 ? groupKeys[added.DeptCode] : groupKeys[0];
            tree_.add(parent, userKey(added.UserId), added.Name, ContactTree::UserImageBase + added.Status);
            if (added.Status != 0)
                changeOnlineCount(+1);
        } catch (const VbError& e) {
            logDataError(e, QStringLiteral("Proc_CL_List"), text.toString());
        }
    }
    UserCount = std::max<qint32>(announced, qint32(UserList.size() - 1));

    for (const TreeNode& n : tree_.nodes())
        if (n.parentKey.isEmpty() && tree_.childCount(n.key) > 0)
            tree_.expand(n.key);
}

qint32 ContactList::FindUserIndex(qint32 id) const {
    for (qsizetype i = 1; i < UserList.size(); ++i)
        if (UserList[i].UserId == id)
            return qint32(i);
    return 0;
}

bool ContactList::Proc_CL_Online(const QString& body, qint32 myUserId) {
    const QStringList fields = body.split(QLatin1Char(';'));
    const qint32 id = NumericText::leadingNumberAs<qint32>(fields.value(0));
    const qint32 i = FindUserIndex(id);
    if (i < 1)
        return false;
    UserInfo& user = UserList[i];
    user.LoginText = fields.value(1);
    const auto number = NumericText::narrow<qint32>(NumericText::wholeNumber(fields.value(2)));
    if (!number)
        logDataError(standardError(VbErrors::TypeMismatch), QStringLiteral("Proc_CL_Online"), body);
    user.LoginNumber = number.value_or(0);
    user.Status = 1;
    // The bot's own entry has no node and is never counted.
    if (id == myUserId || !tree_.contains(userKey(id)))
        return false;
    tree_.setImage(userKey(id), ContactTree::UserImageBase + 1);
    changeOnlineCount(+1);
    return true;
}

bool ContactList::Proc_CL_Offline(const QString& body, qint32 myUserId) {
    const qint32 id = NumericText::leadingNumberAs<qint32>(body);
    const qint32 i = FindUserIndex(id);
    if (i < 1)
        return false;
    UserList[i].Status = 0;
    if (id == myUserId || !tree_.contains(userKey(id)))
        return false;
    tree_.setImage(userKey(id), ContactTree::UserImageBase);
    changeOnlineCount(-1);
    return true;
}

void ContactList::Proc_CL_CngStat(const QString& body, qint32 myUserId) {
    const QStringList fields = body.split(QLatin1Char(';'));
    if (fields.size() < 2) {
        logDataError(standardError(VbErrors::SubscriptOutOfRange), QStringLiteral("Proc_CL_CngStat"), body);
        return;
    }
    const qint32 id = NumericText::leadingNumberAs<qint32>(fields[0]);
    const qint16 status = NumericText::leadingNumberAs<qint16>(fields[1]);
    const qint32 i = FindUserIndex(id);
    if (i < 1)
        return;
    UserList[i].Status = status;
    if (id != myUserId && tree_.contains(userKey(id)))
        tree_.setImage(userKey(id), ContactTree::UserImageBase + status);
}

bool ContactList::IsFewUsersOnline() const {
    if (UserCount <= 0)
        return true;
    return double(OnlineCount) / double(UserCount) < 0.4;
}

QString ContactList::OnlineCountText() const {
    return QString::number(OnlineCount) + QStringLiteral("명");
}
