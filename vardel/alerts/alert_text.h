#pragma once
// Text rules of the alerts: severity keywords and words, %N expansion of
// alert texts.

#include "vardel/alerts/alert_record.h"

#include <cstdint>
#include <string>

// Severity code of a definition file's keyword (exact, case-sensitive);
// 0 for anything else.
std::int16_t SeverityFromKeyword(const std::string& keyword);

// The log's word for a severity code: "Critical", "Warning", "Informational",
// "Normal", or "Unknown".
const char* SeverityWord(int severity);

// Replaces each %N (a '%' and a run of decimal digits) by the value of
// binding N, counting from 1; %0, N above 10 and N above bindingCount expand
// to nothing. A '%' without a digit stays. The result is cut to the
// alertText field.
// objectReferences (STANDARD.INI only): %{OID} expands too, to the value of
// the first binding at or below OID; %{A|B} tries A, then B; nothing when no
// binding matches.
std::string ExpandAlertText(const std::string& text, const AlertRecord& record,
                            bool objectReferences = false);
