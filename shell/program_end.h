#pragma once

namespace kestrix {

// How the program finally ends, once exitProgram has decided to end it.
class ProgramEnd {
  public:
    virtual ~ProgramEnd() = default;
    virtual void end() = 0;
};

// Ends the process at once: no further handler runs, no window asks
// anything on its way out.
class ImmediateProgramEnd final : public ProgramEnd {
  public:
    void end() override;
};

}  // namespace kestrix
