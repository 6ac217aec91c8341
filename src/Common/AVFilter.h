// Video filter settings: small persistent objects that the new conversion
// dialog keeps in an ordered list. Each turns itself into one element of the
// stored filter description (FilterOptions.VideoFilters); the elements of a
// list are joined with "," in list order, each taken unchanged. The engine
// translates that text into a filter graph (filters/FilterDescription.h).
//
// Every kind has its own dialog. This library holds no widgets, so Setup and
// Edit go through an editor that the GUI installs (InstallFilterDialogs() in
// the Wizard library); without one they change nothing and return false.
#pragma once

#include "options/Persistent.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace korvane {

// A platform colour value: 0x00BBGGRR (red in the lowest byte).
using TColor = int;

// The 16 standard colours by name, in the order the colour lists show them.
struct TNamedColor
{
    const char* name;
    TColor color;
};
const QList<TNamedColor>& StandardColors();
// The standard colour of that name (case-insensitive); false when unknown.
bool ColorFromName(const QString& name, TColor* color);
// The name of a standard colour value; empty for any other value.
QString ColorName(TColor color);
// 0x00BBGGRR becomes 0xRRGGBB: red and blue exchanged, top byte dropped.
quint32 ColorToRgb(TColor color);

class TAVFilter : public TPersistent
{
    Q_OBJECT
public:
    enum TFilterKind { fkStandard, fkLogo, fkOverlayText, fkSubtitle };
    Q_ENUM(TFilterKind)

    // Opens the dialog of filter's kind. isNew: start from the dialog's own
    // defaults (Setup); otherwise load the filter's values first (Edit).
    // On OK the dialog's values are copied into filter and true returned;
    // on Cancel filter is unchanged and false returned.
    using Editor = std::function<bool(TAVFilter& filter, bool isNew)>;
    static void SetEditor(Editor editor);
    static bool HasEditor();

    // A new filter of a kind, every number 0, every flag false, every text empty.
    static std::unique_ptr<TAVFilter> Create(TFilterKind kind);

    explicit TAVFilter(QObject* parent = nullptr) : TPersistent(parent) {}

    // The filter's element of the graph description.
    virtual QString GetFilterText() const = 0;
    // The name shown in the dialog's filter list.
    virtual QString GetFilterName() const = 0;
    virtual TFilterKind Kind() const = 0;

    // Setup: the dialog with its defaults; Edit: the dialog with this
    // filter's values. Both return true on OK (values taken over).
    bool Setup();
    bool Edit();

    // Copies every published property from a filter of the same class.
    void Assign(const TPersistent* source) override;
};

// The description of a filter list: the texts in list order joined with ",";
// an empty list gives an empty text.
QString JoinFilterTexts(const QList<const TAVFilter*>& filters);

class TVideoStdFilter : public TAVFilter
{
    Q_OBJECT
    // the names VerticalFilp and HorizontalFilip are the stored ones
    Q_PROPERTY(bool VerticalFilp READ VerticalFilp WRITE SetVerticalFilp)
    Q_PROPERTY(bool HorizontalFilip READ HorizontalFilip WRITE SetHorizontalFilip)
    Q_PROPERTY(bool Negate READ Negate WRITE SetNegate)
    Q_PROPERTY(bool Rotate READ Rotate WRITE SetRotate)
    Q_PROPERTY(bool DrawBox READ DrawBox WRITE SetDrawBox)
    Q_PROPERTY(int Degree READ Degree WRITE SetDegree)
    Q_PROPERTY(int BX READ BX WRITE SetBX)
    Q_PROPERTY(int BY READ BY WRITE SetBY)
    Q_PROPERTY(int BWidth READ BWidth WRITE SetBWidth)
    Q_PROPERTY(int BHeight READ BHeight WRITE SetBHeight)
    Q_PROPERTY(QString BColor READ BColor WRITE SetBColor)

public:
    using TAVFilter::TAVFilter;

    // vflip, hflip, drawbox, negate, rotate: always in this order.
    QString GetFilterText() const override;
    QString GetFilterName() const override;
    TFilterKind Kind() const override { return fkStandard; }

    bool VerticalFilp() const { return m_verticalFlip; }
    bool HorizontalFilip() const { return m_horizontalFlip; }
    bool Negate() const { return m_negate; }
    bool Rotate() const { return m_rotate; }
    bool DrawBox() const { return m_drawBox; }
    // Whole degrees, clockwise.
    int Degree() const { return m_degree; }
    // The box in pixels of the picture entering the filters.
    int BX() const { return m_bx; }
    int BY() const { return m_by; }
    int BWidth() const { return m_bwidth; }
    int BHeight() const { return m_bheight; }
    // A colour name ("Red"); empty for none.
    QString BColor() const { return m_bcolor; }

    void SetVerticalFilp(bool v) { m_verticalFlip = v; }
    void SetHorizontalFilip(bool v) { m_horizontalFlip = v; }
    void SetNegate(bool v) { m_negate = v; }
    void SetRotate(bool v) { m_rotate = v; }
    void SetDrawBox(bool v) { m_drawBox = v; }
    void SetDegree(int v) { m_degree = v; }
    void SetBX(int v) { m_bx = v; }
    void SetBY(int v) { m_by = v; }
    void SetBWidth(int v) { m_bwidth = v; }
    void SetBHeight(int v) { m_bheight = v; }
    void SetBColor(const QString& v) { m_bcolor = v; }

private:
    bool m_verticalFlip = false;
    bool m_horizontalFlip = false;
    bool m_negate = false;
    bool m_rotate = false;
    bool m_drawBox = false;
    int m_degree = 0;
    int m_bx = 0;
    int m_by = 0;
    int m_bwidth = 0;
    int m_bheight = 0;
    QString m_bcolor;
};

class TLogoFilter : public TAVFilter
{
    Q_OBJECT
    Q_PROPERTY(int X READ X WRITE SetX)
    Q_PROPERTY(int Y READ Y WRITE SetY)
    Q_PROPERTY(QString LogoFile READ LogoFile WRITE SetLogoFile)

public:
    using TAVFilter::TAVFilter;

    QString GetFilterText() const override;
    QString GetFilterName() const override;
    TFilterKind Kind() const override { return fkLogo; }

    // Top left corner of the logo, pixels.
    int X() const { return m_x; }
    int Y() const { return m_y; }
    // Path of a PNG file.
    QString LogoFile() const { return m_logoFile; }

    void SetX(int v) { m_x = v; }
    void SetY(int v) { m_y = v; }
    void SetLogoFile(const QString& v) { m_logoFile = v; }

private:
    int m_x = 0;
    int m_y = 0;
    QString m_logoFile;
};

class TOverlayTextFilter : public TAVFilter
{
    Q_OBJECT
    Q_PROPERTY(QString Text READ Text WRITE SetText)
    Q_PROPERTY(int FontSize READ FontSize WRITE SetFontSize)
    Q_PROPERTY(int X READ X WRITE SetX)
    Q_PROPERTY(int Y READ Y WRITE SetY)
    Q_PROPERTY(int FontColor READ FontColor WRITE SetFontColor)
    Q_PROPERTY(int BgColor READ BgColor WRITE SetBgColor)
    Q_PROPERTY(QString FontFile READ FontFile WRITE SetFontFile)

public:
    using TAVFilter::TAVFilter;

    QString GetFilterText() const override;
    QString GetFilterName() const override;
    TFilterKind Kind() const override { return fkOverlayText; }

    // Lines separated by CR LF.
    QString Text() const { return m_text; }
    int FontSize() const { return m_fontSize; }
    int X() const { return m_x; }
    int Y() const { return m_y; }
    TColor FontColor() const { return m_fontColor; }
    TColor BgColor() const { return m_bgColor; }
    // Path of a TrueType font.
    QString FontFile() const { return m_fontFile; }

    void SetText(const QString& v) { m_text = v; }
    void SetFontSize(int v) { m_fontSize = v; }
    void SetX(int v) { m_x = v; }
    void SetY(int v) { m_y = v; }
    void SetFontColor(TColor v) { m_fontColor = v; }
    void SetBgColor(TColor v) { m_bgColor = v; }
    void SetFontFile(const QString& v) { m_fontFile = v; }

private:
    QString m_text;
    int m_fontSize = 0;
    int m_x = 0;
    int m_y = 0;
    TColor m_fontColor = 0;
    TColor m_bgColor = 0;
    QString m_fontFile;
};

class TSubtitleFilter : public TAVFilter
{
    Q_OBJECT
    Q_PROPERTY(QString SubtitleFile READ SubtitleFile WRITE SetSubtitleFile)
    Q_PROPERTY(QString FontFile READ FontFile WRITE SetFontFile)
    Q_PROPERTY(QString CodePage READ CodePage WRITE SetCodePage)
    Q_PROPERTY(int FontColor READ FontColor WRITE SetFontColor)

public:
    using TAVFilter::TAVFilter;

    QString GetFilterText() const override;
    QString GetFilterName() const override;
    TFilterKind Kind() const override { return fkSubtitle; }

    QString SubtitleFile() const { return m_subtitleFile; }
    QString FontFile() const { return m_fontFile; }
    // Character set of the subtitle file; empty for the default.
    QString CodePage() const { return m_codePage; }
    TColor FontColor() const { return m_fontColor; }

    void SetSubtitleFile(const QString& v) { m_subtitleFile = v; }
    void SetFontFile(const QString& v) { m_fontFile = v; }
    void SetCodePage(const QString& v) { m_codePage = v; }
    void SetFontColor(TColor v) { m_fontColor = v; }

    // The code pages the dialog suggests, in order.
    static const QStringList& CodePages();

private:
    QString m_subtitleFile;
    QString m_fontFile;
    QString m_codePage;
    TColor m_fontColor = 0;
};

} // namespace korvane
