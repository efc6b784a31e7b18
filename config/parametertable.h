// The controller's configuration parameters: 38 of the 48 holding registers
// 4097..4144 (the parameter block), with the page of the configuration window
// each sits on, its caption, entry control, coding and hint text. Everything
// that names a configuration parameter takes it from this table; the window is
// built from it row by row.
//
// Adding a parameter: add its row to kParameters in parametertable.cpp at its
// place in register order (rows of one page appear top to bottom in table
// order), give it an option list from optionlists.h when it is enumerated, and
// extend the expected element set in tests/config/tst_parametertable.cpp.
#pragma once

#include "config/optionlists.h"
#include "link/registerimage.h"

#include <QStringView>
#include <array>
#include <cstdint>
#include <span>

namespace station::config {

// The pages of the configuration window, in tab order.
enum class Page { Inst, Input1, Input2, Output1, Output2, Alarm, Comm, Retrans1, Retrans2 };
inline constexpr int kPageCount = 9;
inline constexpr std::array<Page, kPageCount> kPages{Page::Inst,   Page::Input1,   Page::Input2,
                                                     Page::Output1, Page::Output2, Page::Alarm,
                                                     Page::Comm,   Page::Retrans1, Page::Retrans2};
QStringView pageCaption(Page page);

enum class Kind {
    Enumerated,  // a code 0, 1, 2, ... entered through a combo box with its option list
    Numeric,     // an integer entered through a T_3RW text box
};

struct Parameter {
    std::int32_t reg;           // holding register 4097..4144
    Page page;
    QStringView caption;
    QStringView control;        // "Combo14" for a combo box; "T_3RW" for the text box array
    Kind kind;
    const OptionList *options;  // Enumerated only
    int scale;                  // register = entered value * scale; display = register / scale
    QStringView hint;           // printed beside the row
    QStringView footHint;       // printed below all rows of the page; empty for most rows

    // Offset in the parameter block: index of the parameter image element, of the
    // value display D_4W(i) and, for a numeric parameter, of the text box T_3RW(i).
    constexpr int element() const { return int(reg - station::reg::kParamFirst); }
    bool isEnumerated() const { return kind == Kind::Enumerated; }
};

inline constexpr int kParameterCount = 38;

// All parameters in register order.
std::span<const Parameter> parameters();

// nullptr when the register or element is not one of the 38.
const Parameter *parameterForRegister(std::int32_t reg);
const Parameter *parameterForElement(int element);

// Object name of the parameter's entry control: "Combo14", "T_3RW_2".
QString entryControlName(const Parameter &parameter);

} // namespace station::config
