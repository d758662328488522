#include "platform/QtText.h"

#include <gtest/gtest.h>

TEST(QtText, StoredBytesToQStringAndBack)
{
    const QString expected = QStringLiteral("Žluťoučký kůň");
    EXPECT_EQ(ToQString("Žluťoučký kůň"), expected);
    // The same text as a catalogue written on Windows stores it, in Windows-1250.
    EXPECT_EQ(ToQString("\x8e\x6c\x75\x9d\x6f\x75\xe8\x6b\xfd\x20\x6b\xf9\xf2"), expected);
    EXPECT_EQ(FromQString(expected), "Žluťoučký kůň");
    EXPECT_EQ(ToQString(FromQString(QString())), QString());
    // Embedded NUL and astral characters survive the round trip.
    const std::string odd("a\0\xf0\x9f\x98\x80", 6);
    EXPECT_EQ(FromQString(ToQString(odd)), odd);
}
