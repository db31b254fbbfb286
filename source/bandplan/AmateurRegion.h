#pragma once

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <array>

// The amateur bands of the user's ITU region and country, and the small
// settings file "itu.ini" (group "ITU": Band11M, Band60M, Country) that picks
// them. Band ids run 0 "160M" … 13 "0.7M"; id 13 also stands for "no band".
//
// Country to region: the countries of the Americas and Greenland are region 2
// (index 1); Asia east of Iraq outside the former Soviet Union, Oceania and the
// Pacific islands are region 3 (index 2); every other country, and a country
// the lists do not know, is region 1 (index 0): Europe, Africa, the Middle East,
// the former Soviet Union and Mongolia.
class AmateurRegion : public QObject {
    Q_OBJECT
public:
    struct Band {
        bool enabled = false;
        quint64 low = 0;  // Hz, inclusive
        quint64 high = 0; // Hz, inclusive
        QString name;
    };

    static constexpr int kBandCount = 14;
    static constexpr int kBand60M = 2;
    static constexpr int kBand11M = 9;
    static constexpr int kNoBand = 13;

    // Reads (and on first use creates) "itu.ini"; the system locale gives the
    // default country.
    explicit AmateurRegion(QObject* parent = nullptr);

    // All fourteen band records in id order, disabled ones included.
    QList<Band> bands() const;
    Band band(int id) const;
    // Id (0..13) of the first enabled band holding hz, edges inclusive; 13 when none does.
    int bandIndex(double hz) const;

    int region() const { return m_region; }   // 0, 1, 2 for ITU regions 1, 2, 3
    int country() const { return m_country; } // QLocale::Country value
    bool band11M() const { return m_band11M; }
    bool band60M() const { return m_band60M; }
    bool has60MAllocation() const { return m_has60M; }

    // Each setter rebuilds the band list; none of them writes the file.
    void setCountry(int country);
    void setBand11M(bool on);
    void setBand60M(bool on);

    // The ITU region index of a QLocale country (see the class comment).
    static int regionOf(int country);
    // Full path of "itu.ini".
    static QString settingsPath();

public slots:
    void saveSettings();
    void restoreSettings();

private:
    void rebuild();

    std::array<Band, kBandCount> m_bands;
    int m_region = 0;
    int m_country = 0;
    int m_systemCountry = 0;
    bool m_band11M = false;
    bool m_has60M = false;
    bool m_band60M = false;
};

Q_DECLARE_METATYPE(AmateurRegion::Band)
