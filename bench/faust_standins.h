// SPDX-License-Identifier: MIT
// The base classes a Faust-generated C++ class expects (dsp, UI, Meta), reduced to what the
// generated code calls, followed by the generated en.adsre class itself.
#pragma once

#ifndef FAUSTFLOAT
#define FAUSTFLOAT float
#endif

struct Meta {
    virtual ~Meta() = default;
    virtual void declare(const char*, const char*) {}
};

// Collects the zone of the gate button; everything else is ignored.
struct UI {
    virtual ~UI() = default;
    virtual void openVerticalBox(const char*) {}
    virtual void openHorizontalBox(const char*) {}
    virtual void closeBox() {}
    virtual void addButton(const char*, FAUSTFLOAT* zone) { gate = zone; }
    virtual void addCheckButton(const char*, FAUSTFLOAT*) {}
    virtual void addHorizontalSlider(const char*, FAUSTFLOAT*, FAUSTFLOAT, FAUSTFLOAT, FAUSTFLOAT,
                                     FAUSTFLOAT) {}
    virtual void addVerticalSlider(const char*, FAUSTFLOAT*, FAUSTFLOAT, FAUSTFLOAT, FAUSTFLOAT, FAUSTFLOAT) {
    }
    virtual void addNumEntry(const char*, FAUSTFLOAT*, FAUSTFLOAT, FAUSTFLOAT, FAUSTFLOAT, FAUSTFLOAT) {}
    virtual void declare(FAUSTFLOAT*, const char*, const char*) {}
    FAUSTFLOAT* gate = nullptr;
};

class dsp {
public:
    virtual ~dsp() = default;
};

#include <faust_adsre.h>
