// The stored description of a data grid.
#include "grid/grid_description.h"

#include <optional>
#include <utility>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "grid/data_grid.h"

namespace grid {

namespace {

// Bounds of what a description may ask for, so that a damaged file cannot make the grid allocate
// without limit.
constexpr int kMaxCount = 10000;
constexpr int kMaxPixels = 10000;
constexpr int kMaxDropDownRows = 1000;
constexpr int kMaxTextLength = 4096;
constexpr int kMaxPickListItems = 10000;

const std::pair<TGridOption, const char*> kGridOptionNames[] = {
    {goFixedVertLine, "goFixedVertLine"},
    {goFixedHorzLine, "goFixedHorzLine"},
    {goVertLine, "goVertLine"},
    {goHorzLine, "goHorzLine"},
    {goColSizing, "goColSizing"},
    {goColMoving, "goColMoving"},
    {goEditing, "goEditing"},
    {goTabs, "goTabs"},
    {goRowSelect, "goRowSelect"},
    {goAlwaysShowEditor, "goAlwaysShowEditor"},
};

const std::pair<TDataGridOption, const char*> kDataGridOptionNames[] = {
    {dgoAppendRow, "dgoAppendRow"},
    {dgoInsertRow, "dgoInsertRow"},
    {dgoDeleteRow, "dgoDeleteRow"},
};

const char* const kAlignmentNames[] = {"taLeftJustify", "taRightJustify", "taCenter"};
const char* const kButtonStyleNames[] = {"cbsAuto", "cbsEllipsis", "cbsNone"};
const char* const kFormatNames[] = {"cfString", "cfNumber", "cfDate"};

QJsonObject FontToJson(const TFont& font)
{
    QJsonObject o;
    o["Name"] = font.Font().family();
    o["Size"] = font.Font().pointSize();
    o["Bold"] = font.Font().bold();
    o["Italic"] = font.Font().italic();
    o["Color"] = font.Color().name();
    return o;
}

// The reading side: each check names what it refused.
class Reader
{
public:
    QString Error;

    bool Fail(const QString& where, const QString& what)
    {
        if (Error.isEmpty())
            Error = where + QStringLiteral(": ") + what;
        return false;
    }

    std::optional<int> Int(const QJsonObject& o, const char* key, const QString& where, int min, int max)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isDouble() || v.toDouble() != static_cast<double>(v.toInt())) {
            Fail(where + u'.' + QLatin1String(key), QStringLiteral("not a whole number"));
            return std::nullopt;
        }
        const int value = v.toInt();
        if (value < min || value > max) {
            Fail(where + u'.' + QLatin1String(key),
                 QStringLiteral("%1 outside %2..%3").arg(value).arg(min).arg(max));
            return std::nullopt;
        }
        return value;
    }

    std::optional<QString> Text(const QJsonObject& o, const char* key, const QString& where)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isString()) {
            Fail(where + u'.' + QLatin1String(key), QStringLiteral("not a text"));
            return std::nullopt;
        }
        if (v.toString().size() > kMaxTextLength) {
            Fail(where + u'.' + QLatin1String(key), QStringLiteral("text too long"));
            return std::nullopt;
        }
        return v.toString();
    }

    std::optional<bool> Bool(const QJsonObject& o, const char* key, const QString& where)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isBool()) {
            Fail(where + u'.' + QLatin1String(key), QStringLiteral("not true or false"));
            return std::nullopt;
        }
        return v.toBool();
    }

    template <std::size_t N>
    std::optional<int> Name(const QJsonObject& o, const char* key, const QString& where,
                            const char* const (&names)[N])
    {
        const auto text = Text(o, key, where);
        if (!text)
            return std::nullopt;
        for (std::size_t i = 0; i < N; ++i) {
            if (*text == QLatin1String(names[i]))
                return static_cast<int>(i);
        }
        Fail(where + u'.' + QLatin1String(key), QStringLiteral("unknown value \"%1\"").arg(*text));
        return std::nullopt;
    }

    template <typename Flag, std::size_t N>
    std::optional<unsigned> Flags(const QJsonObject& o, const char* key, const QString& where,
                                  const std::pair<Flag, const char*> (&names)[N])
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isArray()) {
            Fail(where + u'.' + QLatin1String(key), QStringLiteral("not a list"));
            return std::nullopt;
        }
        unsigned flags = 0;
        for (const QJsonValue item : v.toArray()) {
            bool known = false;
            for (const auto& [flag, name] : names) {
                if (item.toString() == QLatin1String(name)) {
                    flags |= flag;
                    known = true;
                }
            }
            if (!known) {
                Fail(where + u'.' + QLatin1String(key),
                     QStringLiteral("unknown option \"%1\"").arg(item.toString()));
                return std::nullopt;
            }
        }
        return flags;
    }

    std::optional<QColor> Color(const QJsonObject& o, const char* key, const QString& where)
    {
        const auto text = Text(o, key, where);
        if (!text)
            return std::nullopt;
        const QColor color = QColor::fromString(*text);
        if (!color.isValid()) {
            Fail(where + u'.' + QLatin1String(key), QStringLiteral("not a colour"));
            return std::nullopt;
        }
        return color;
    }

    std::optional<TFont> Font(const QJsonObject& o, const char* key, const QString& where)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isObject()) {
            Fail(where + u'.' + QLatin1String(key), QStringLiteral("not a font"));
            return std::nullopt;
        }
        const QJsonObject f = v.toObject();
        const QString at = where + u'.' + QLatin1String(key);
        const auto name = Text(f, "Name", at);
        const auto size = Int(f, "Size", at, 1, 1000);
        const auto bold = Bool(f, "Bold", at);
        const auto italic = Bool(f, "Italic", at);
        const auto color = Color(f, "Color", at);
        if (!name || !size || !bold || !italic || !color)
            return std::nullopt;
        QFont font(*name, *size);
        font.setBold(*bold);
        font.setItalic(*italic);
        return TFont(font, *color);
    }
};

} // namespace

QByteArray SaveGridDescription(TDataGrid& grid)
{
    QJsonObject o;
    o["ColCount"] = grid.ColCount();
    o["RowCount"] = grid.RowCount();
    o["FixedCols"] = grid.FixedCols();
    o["FixedRows"] = grid.FixedRows();
    o["DefaultColWidth"] = grid.DefaultColWidth();
    o["DefaultRowHeight"] = grid.DefaultRowHeight();
    QJsonArray options;
    for (const auto& [flag, name] : kGridOptionNames) {
        if ((grid.Options() & flag) != 0)
            options.append(QLatin1String(name));
    }
    o["Options"] = options;
    QJsonArray widths;
    for (int i = 0; i < grid.ColCount(); ++i)
        widths.append(grid.ColWidths(i));
    o["ColWidths"] = widths;

    QJsonArray columns;
    for (int i = 0; i < grid.Columns().Count(); ++i) {
        TColumn& column = grid.Columns().Items(i);
        QJsonObject c;
        if (column.IsAlignmentStored())
            c["Alignment"] = QLatin1String(kAlignmentNames[column.Alignment()]);
        if (column.ButtonStyle() != cbsAuto)
            c["ButtonStyle"] = QLatin1String(kButtonStyleNames[column.ButtonStyle()]);
        if (column.IsColorStored())
            c["Color"] = column.Color().name();
        c["DisplayMask"] = column.DisplayMask();
        if (column.DropDownRows() != 7)
            c["DropDownRows"] = static_cast<int>(column.DropDownRows());
        if (!column.EditMask().isEmpty())
            c["EditMask"] = column.EditMask();
        if (column.IsFontStored())
            c["Font"] = FontToJson(column.Font());
        if (column.Format() != cfString)
            c["Format"] = QLatin1String(kFormatNames[column.Format()]);
        if (column.LimitToList())
            c["LimitToList"] = true;
        if (column.MaxLength() != 0)
            c["MaxLength"] = column.MaxLength();
        if (column.HasPickList() && !column.PickList().isEmpty())
            c["PickList"] = QJsonArray::fromStringList(column.PickList());
        if (column.IsReadOnlyStored())
            c["ReadOnly"] = column.ReadOnly();
        QJsonObject title;
        TColumnTitle& t = column.Title();
        if (t.IsAlignmentStored())
            title["Alignment"] = QLatin1String(kAlignmentNames[t.Alignment()]);
        if (t.IsCaptionStored())
            title["Caption"] = t.Caption();
        if (t.IsFontStored())
            title["Font"] = FontToJson(t.Font());
        if (!title.isEmpty())
            c["Title"] = title;
        columns.append(c);
    }
    o["Columns"] = columns;

    QJsonArray dataOptions;
    for (const auto& [flag, name] : kDataGridOptionNames) {
        if ((grid.DataGridOptions() & flag) != 0)
            dataOptions.append(QLatin1String(name));
    }
    o["DataGridOptions"] = dataOptions;
    o["RowCountMin"] = grid.RowCountMin();
    o["SelectedIndex"] = grid.SelectedIndex();
    o["Version"] = grid.Version();
    o["PixelsPerInch"] = grid.PixelsPerInch();
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

bool LoadGridDescription(TDataGrid& grid, const QByteArray& description, QString* error)
{
    Reader r;
    auto fail = [&] {
        if (error)
            *error = r.Error;
        return false;
    };
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(description, &parseError);
    if (doc.isNull() || !doc.isObject()) {
        r.Fail(QStringLiteral("description"),
               doc.isNull() ? parseError.errorString() : QStringLiteral("not an object"));
        return fail();
    }
    const QJsonObject o = doc.object();
    const QString at = QStringLiteral("grid");
    const auto colCount = r.Int(o, "ColCount", at, 0, kMaxCount);
    const auto rowCount = r.Int(o, "RowCount", at, 0, kMaxCount);
    const auto fixedCols = r.Int(o, "FixedCols", at, 0, kMaxCount);
    const auto fixedRows = r.Int(o, "FixedRows", at, 0, kMaxCount);
    const auto defaultColWidth = r.Int(o, "DefaultColWidth", at, 0, kMaxPixels);
    const auto defaultRowHeight = r.Int(o, "DefaultRowHeight", at, 0, kMaxPixels);
    const auto options = r.Flags(o, "Options", at, kGridOptionNames);
    const auto dataOptions = r.Flags(o, "DataGridOptions", at, kDataGridOptionNames);
    const auto rowCountMin = r.Int(o, "RowCountMin", at, 0, kMaxCount);
    const auto selectedIndex = r.Int(o, "SelectedIndex", at, 0, kMaxCount);
    const auto pixelsPerInch = r.Int(o, "PixelsPerInch", at, 1, 10000);
    if (!colCount || !rowCount || !fixedCols || !fixedRows || !defaultColWidth || !defaultRowHeight ||
        !options || !dataOptions || !rowCountMin || !selectedIndex || !pixelsPerInch)
        return fail();
    if (*colCount > 0 && *fixedCols >= *colCount) {
        r.Fail(at + QStringLiteral(".FixedCols"), QStringLiteral("not below ColCount"));
        return fail();
    }
    if (*rowCount > 0 && *fixedRows >= *rowCount) {
        r.Fail(at + QStringLiteral(".FixedRows"), QStringLiteral("not below RowCount"));
        return fail();
    }
    std::vector<int> widths;
    if (o.contains(QLatin1String("ColWidths"))) {
        const QJsonValue v = o.value(QLatin1String("ColWidths"));
        if (!v.isArray() || v.toArray().size() != *colCount) {
            r.Fail(at + QStringLiteral(".ColWidths"), QStringLiteral("not a list of ColCount widths"));
            return fail();
        }
        for (const QJsonValue w : v.toArray()) {
            if (!w.isDouble() || w.toInt(-1) < 0 || w.toInt(-1) > kMaxPixels) {
                r.Fail(at + QStringLiteral(".ColWidths"),
                       QStringLiteral("a width outside 0..%1").arg(kMaxPixels));
                return fail();
            }
            widths.push_back(w.toInt());
        }
    }
    const QJsonValue columnsValue = o.value(QLatin1String("Columns"));
    if (!columnsValue.isArray() || columnsValue.toArray().size() > kMaxCount) {
        r.Fail(at + QStringLiteral(".Columns"), QStringLiteral("not a list of columns"));
        return fail();
    }
    const QJsonArray columns = columnsValue.toArray();
    // Check every column before anything changes.
    for (qsizetype i = 0; i < columns.size(); ++i) {
        const QString where = QStringLiteral("Columns[%1]").arg(i);
        if (!columns[i].isObject()) {
            r.Fail(where, QStringLiteral("not an object"));
            return fail();
        }
        const QJsonObject c = columns[i].toObject();
        bool ok = true;
        if (c.contains(QLatin1String("Alignment")))
            ok = ok && r.Name(c, "Alignment", where, kAlignmentNames).has_value();
        if (c.contains(QLatin1String("ButtonStyle")))
            ok = ok && r.Name(c, "ButtonStyle", where, kButtonStyleNames).has_value();
        if (c.contains(QLatin1String("Color")))
            ok = ok && r.Color(c, "Color", where).has_value();
        if (c.contains(QLatin1String("DisplayMask")))
            ok = ok && r.Text(c, "DisplayMask", where).has_value();
        if (c.contains(QLatin1String("DropDownRows")))
            ok = ok && r.Int(c, "DropDownRows", where, 0, kMaxDropDownRows).has_value();
        if (c.contains(QLatin1String("EditMask")))
            ok = ok && r.Text(c, "EditMask", where).has_value();
        if (c.contains(QLatin1String("Font")))
            ok = ok && r.Font(c, "Font", where).has_value();
        if (c.contains(QLatin1String("Format")))
            ok = ok && r.Name(c, "Format", where, kFormatNames).has_value();
        if (c.contains(QLatin1String("LimitToList")))
            ok = ok && r.Bool(c, "LimitToList", where).has_value();
        if (c.contains(QLatin1String("MaxLength")))
            ok = ok && r.Int(c, "MaxLength", where, 0, 32767).has_value();
        if (c.contains(QLatin1String("ReadOnly")))
            ok = ok && r.Bool(c, "ReadOnly", where).has_value();
        if (c.contains(QLatin1String("PickList"))) {
            const QJsonValue list = c.value(QLatin1String("PickList"));
            bool listOk = list.isArray() && list.toArray().size() <= kMaxPickListItems;
            for (const QJsonValue item : list.toArray())
                listOk = listOk && item.isString() && item.toString().size() <= kMaxTextLength;
            if (!listOk)
                ok = r.Fail(where + QStringLiteral(".PickList"), QStringLiteral("not a list of texts"));
        }
        if (c.contains(QLatin1String("Title"))) {
            if (!c.value(QLatin1String("Title")).isObject()) {
                ok = r.Fail(where + QStringLiteral(".Title"), QStringLiteral("not an object"));
            } else {
                const QJsonObject t = c.value(QLatin1String("Title")).toObject();
                const QString tw = where + QStringLiteral(".Title");
                if (t.contains(QLatin1String("Alignment")))
                    ok = ok && r.Name(t, "Alignment", tw, kAlignmentNames).has_value();
                if (t.contains(QLatin1String("Caption")))
                    ok = ok && r.Text(t, "Caption", tw).has_value();
                if (t.contains(QLatin1String("Font")))
                    ok = ok && r.Font(t, "Font", tw).has_value();
            }
        }
        if (!ok)
            return fail();
    }

    // Apply, with the synchronisation of columns and column count suspended.
    grid.BeginLoading();
    grid.HideEditor();
    grid.SetColCount(*colCount);
    grid.SetRowCount(*rowCount);
    grid.SetFixedCols(*fixedCols);
    grid.SetFixedRows(*fixedRows);
    grid.SetDefaultColWidth(*defaultColWidth);
    grid.SetDefaultRowHeight(*defaultRowHeight);
    grid.SetOptions(*options);
    for (std::size_t i = 0; i < widths.size(); ++i)
        grid.SetColWidths(static_cast<int>(i), widths[i]);
    grid.Columns().Clear();
    for (const QJsonValue value : columns) {
        const QJsonObject c = value.toObject();
        TColumn& column = grid.Columns().Add();
        const QString where;
        if (c.contains(QLatin1String("Alignment")))
            column.SetAlignment(static_cast<TAlignment>(*r.Name(c, "Alignment", where, kAlignmentNames)));
        if (c.contains(QLatin1String("ButtonStyle")))
            column.SetButtonStyle(
                static_cast<TColumnButtonStyle>(*r.Name(c, "ButtonStyle", where, kButtonStyleNames)));
        if (c.contains(QLatin1String("Color")))
            column.SetColor(*r.Color(c, "Color", where));
        if (c.contains(QLatin1String("DropDownRows")))
            column.SetDropDownRows(
                static_cast<unsigned>(*r.Int(c, "DropDownRows", where, 0, kMaxDropDownRows)));
        if (c.contains(QLatin1String("EditMask")))
            column.SetEditMask(*r.Text(c, "EditMask", where));
        if (c.contains(QLatin1String("Font")))
            column.SetFont(*r.Font(c, "Font", where));
        // Format before DisplayMask: a new format clears the mask.
        if (c.contains(QLatin1String("Format")))
            column.SetFormat(static_cast<TColumnFormat>(*r.Name(c, "Format", where, kFormatNames)));
        if (c.contains(QLatin1String("DisplayMask")))
            column.SetDisplayMask(*r.Text(c, "DisplayMask", where));
        if (c.contains(QLatin1String("LimitToList")))
            column.SetLimitToList(*r.Bool(c, "LimitToList", where));
        if (c.contains(QLatin1String("MaxLength")))
            column.SetMaxLength(*r.Int(c, "MaxLength", where, 0, 32767));
        if (c.contains(QLatin1String("PickList"))) {
            QStringList items;
            for (const QJsonValue item : c.value(QLatin1String("PickList")).toArray())
                items.append(item.toString());
            column.SetPickList(&items);
        }
        if (c.contains(QLatin1String("ReadOnly")))
            column.SetReadOnly(*r.Bool(c, "ReadOnly", where));
        if (c.contains(QLatin1String("Title"))) {
            const QJsonObject t = c.value(QLatin1String("Title")).toObject();
            if (t.contains(QLatin1String("Alignment")))
                column.Title().SetAlignment(
                    static_cast<TAlignment>(*r.Name(t, "Alignment", where, kAlignmentNames)));
            if (t.contains(QLatin1String("Caption")))
                column.Title().SetCaption(*r.Text(t, "Caption", where));
            if (t.contains(QLatin1String("Font")))
                column.Title().SetFont(*r.Font(t, "Font", where));
        }
    }
    grid.SetDataGridOptions(static_cast<TDataGridOptions>(*dataOptions));
    grid.SetRowCountMin(*rowCountMin);
    grid.SetSelectedIndex(*selectedIndex);
    grid.SetPixelsPerInch(*pixelsPerInch);
    grid.EndLoading();
    return true;
}

} // namespace grid
