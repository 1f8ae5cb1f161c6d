#include "VintrelleReducedMotion.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <optional>

namespace {

std::optional<QString> iniValue(const QString &path, const QString &key)
{
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    const QSettings file(path, QSettings::IniFormat);
    const QVariant value = file.value(key);
    if (!value.isValid())
        return std::nullopt;
    return value.toString().trimmed().toLower();
}

} // namespace

bool VintrelleDesktopReducesMotion(const QString &configHome)
{
    if (configHome.isEmpty())
        return false;
    const QDir folder(configHome);
    for (const char *gtk : {"gtk-4.0/settings.ini", "gtk-3.0/settings.ini"}) {
        const auto enabled = iniValue(folder.filePath(QString::fromLatin1(gtk)), QStringLiteral("Settings/gtk-enable-animations"));
        if (enabled && (*enabled == u"false" || *enabled == u"0"))
            return true;
    }
    const auto factor = iniValue(folder.filePath(QStringLiteral("kdeglobals")), QStringLiteral("KDE/AnimationDurationFactor"));
    bool number = false;
    return factor && factor->toDouble(&number) == 0 && number;
}

namespace {

// Reads the property's numbers in the byte order it declares, refusing to read past its end.
class XSettingsReader
{
public:
    XSettingsReader(const QByteArray &data, bool bigEndian) : m_data(data), m_bigEndian(bigEndian) {}

    bool skip(qsizetype bytes)
    {
        if (bytes < 0 || bytes > m_data.size() - m_position)
            return false;
        m_position += bytes;
        return true;
    }

    std::optional<quint32> number(int bytes)
    {
        if (bytes > m_data.size() - m_position)
            return std::nullopt;
        quint32 value = 0;
        for (int i = 0; i < bytes; ++i) {
            const quint32 byte = quint8(m_data.at(m_position + (m_bigEndian ? i : bytes - 1 - i)));
            value = (value << 8) | byte;
        }
        m_position += bytes;
        return value;
    }

    std::optional<QByteArray> text(quint32 length)
    {
        if (qsizetype(length) > m_data.size() - m_position)
            return std::nullopt;
        const QByteArray value = m_data.mid(m_position, qsizetype(length));
        m_position += qsizetype(length);
        return value;
    }

private:
    const QByteArray &m_data;
    bool m_bigEndian;
    qsizetype m_position = 0;
};

qsizetype padding(quint32 length)
{
    return qsizetype((4 - length % 4) % 4);
}

} // namespace

std::optional<bool> VintrelleXSettingsAnimationsEnabled(const QByteArray &property)
{
    if (property.size() < 12)
        return std::nullopt;
    XSettingsReader reader(property, property.at(0) == 1); // MSBFirst is 1
    reader.skip(4);
    if (!reader.number(4)) // serial
        return std::nullopt;
    const std::optional<quint32> count = reader.number(4);
    if (!count)
        return std::nullopt;
    enum Type { Integer = 0, String = 1, Colour = 2 };
    for (quint32 i = 0; i < *count; ++i) {
        const auto type = reader.number(1);
        if (!type || !reader.skip(1))
            return std::nullopt;
        const auto nameLength = reader.number(2);
        if (!nameLength)
            return std::nullopt;
        const auto name = reader.text(*nameLength);
        if (!name || !reader.skip(padding(*nameLength)) || !reader.number(4)) // name, its padding, last change
            return std::nullopt;
        switch (*type) {
        case Integer: {
            const auto value = reader.number(4);
            if (!value)
                return std::nullopt;
            if (*name == "Gtk/EnableAnimations")
                return qint32(*value) != 0;
            break;
        }
        case String: {
            const auto length = reader.number(4);
            if (!length || !reader.text(*length) || !reader.skip(padding(*length)))
                return std::nullopt;
            break;
        }
        case Colour:
            if (!reader.skip(8))
                return std::nullopt;
            break;
        default:
            return std::nullopt; // an unknown type's size is unknown: nothing after it can be read
        }
    }
    return std::nullopt;
}
