// The XML namespaces of eSCL documents.
#pragma once

namespace velomark {

inline constexpr char kPwgNamespace[] = "http://www.pwg.org/schemas/2010/12/sm";
inline constexpr char kScanNamespace[] = "http://schemas.hp.com/imaging/escl/2011/05/03";

}  // namespace velomark
