#pragma once

#include <QString>
#include <QStringView>

class QTextCursor;

namespace quillmar {

// Whole seconds the teleprompter needs to scroll `remaining` pixels at `speed` (10 px/s at
// 1.0), rounded up so that the last fraction of a second still reads 0:01; 0 when nothing is
// left or the speed is not a usable number.
int secondsLeft(double remaining, double speed);
// "m:ss"; minutes are not wrapped into hours, as a reader counts a long segment in minutes.
QString formatTimeLeft(int seconds);
// Runs of letters and digits, an apostrophe between letters keeping a word whole ("don't").
int countWords(QStringView text);
// Words from the cursor's position to the end of its document.
int wordsAfter(const QTextCursor &cursor);

} // namespace quillmar
