// SkinFramework: Brisquet's skin component, an invisible member of the main
// window that loads a skin file and applies it to a window. A skin is a Qt
// style sheet kept in a UTF-8 text file (resources/skins/ has an example).
// Start-up reaches it through its member numbers, in this order:
//
//  member 2  LoadSkin(path, section): reads and checks the skin file. A file
//            that cannot be read, is larger than kMostSkinBytes or is not
//            valid UTF-8 raises a RuntimeError saying which; the skin loaded
//            before, if any, is then kept. section names a part of a skin
//            file with several looks; Brisquet's skins have one, so it is
//            passed empty and ignored.
//  member 1  Options: option flags. Bit 0 (kSkinDialogs), which the vendor
//            called "frame and metrics": the window manager draws the frame
//            itself and no style sheet reaches it, so for Brisquet the bit
//            carries the skin beyond the one window to every window the
//            program opens, its message boxes included.
//  member 5  Enabled: skinning is on. While false, ApplyWindow changes no look.
//  member 10 UniformStyle: the program is drawn with Qt's Fusion style under
//            the sheet, so a skin looks the same on every desktop (native
//            styles, as on Windows, ignore parts of a style sheet).
//  member 3  ApplyWindow(handle): applies the loaded skin to the window whose
//            native handle (winId(), as a 32-bit integer) is given, and to the
//            controls on it. An unknown handle raises a RuntimeError; with no
//            skin loaded nothing changes.
//
// It does not watch the skin file, undo a skin or skin the window frame.
#pragma once

#include <QObject>
#include <QString>

class SkinFramework : public QObject
{
    Q_OBJECT

public:
    static constexpr qint32 kSkinDialogs = 1;
    static constexpr qint64 kMostSkinBytes = 1024 * 1024;

    explicit SkinFramework(QObject *parent = nullptr);

    void LoadSkin(const QString &path, const QString &section); // member 2

    qint32 Options() const { return m_options; } // member 1
    void setOptions(qint32 options) { m_options = options; }

    bool Enabled() const { return m_enabled; } // member 5
    void setEnabled(bool enabled) { m_enabled = enabled; }

    bool UniformStyle() const { return m_uniformStyle; } // member 10
    void setUniformStyle(bool uniform) { m_uniformStyle = uniform; }

    void ApplyWindow(qint32 windowHandle); // member 3

private:
    QString m_styleSheet;
    qint32 m_options = 0;
    bool m_enabled = false;
    bool m_uniformStyle = false;
};
