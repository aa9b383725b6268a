#pragma once

// Debugger traces, in the Chinese code page (GBK) that the developers' tools expect. The bytes are
// spelled out so that no compiler's source or execution character set can change them.

// "只修箱体内部\n"
inline constexpr char kTraceOnlyBoxInner[] = "\xd6\xbb\xd0\xde\xcf\xe4\xcc\xe5\xc4\xda\xb2\xbf\n";
// "取消选择状态\n"
inline constexpr char kTraceOnlyBoxInnerOff[] = "\xc8\xa1\xcf\xfb\xd1\xa1\xd4\xf1\xd7\xb4\xcc\xac\n";
// "取消选择\n"
inline constexpr char kTraceUnselected[] = "\xc8\xa1\xcf\xfb\xd1\xa1\xd4\xf1\n";
// "启用缝隙\n"
inline constexpr char kTraceEnableOn[] = "\xc6\xf4\xd3\xc3\xb7\xec\xcf\xb6\n";
// "不修缝\n"
inline constexpr char kTraceEnableOff[] = "\xb2\xbb\xd0\xde\xb7\xec\n";
