#pragma once

// Builds an XSETTINGS property as a settings daemon publishes it.

#include <QByteArray>
#include <QList>
#include <QVariant>

struct XSetting
{
    enum Type { Integer = 0, String = 1, Colour = 2 } type;
    QByteArray name;
    QVariant value; // int for Integer, QByteArray for String; ignored for Colour
};

inline QByteArray xsettingsProperty(const QList<XSetting> &settings, bool bigEndian = false, int declaredCount = -1)
{
    QByteArray out;
    auto number = [&](quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
            out.append(char((value >> shift) & 0xff));
        }
    };
    auto pad = [&] {
        while (out.size() % 4)
            out.append('\0');
    };
    out.append(char(bigEndian ? 1 : 0));
    out.append(3, '\0');
    number(7, 4); // serial
    number(quint32(declaredCount < 0 ? settings.size() : declaredCount), 4);
    for (const XSetting &setting : settings) {
        out.append(char(setting.type));
        out.append('\0');
        number(quint32(setting.name.size()), 2);
        out.append(setting.name);
        pad();
        number(3, 4); // last change serial
        if (setting.type == XSetting::Integer) {
            number(quint32(setting.value.toInt()), 4);
        } else if (setting.type == XSetting::String) {
            const QByteArray text = setting.value.toByteArray();
            number(quint32(text.size()), 4);
            out.append(text);
            pad();
        } else {
            number(0xffff, 2);
            number(0x8000, 2);
            number(0, 2);
            number(0xffff, 2);
        }
    }
    return out;
}
