// The presentation application's automation object model: the interfaces
// the add-in drives and the host (Powerpnt) implements.
//
// Every interface but MouseTracker is dual: callable through its virtual
// functions and late-bound through IDispatch by name. Properties are get_X /
// put_X pairs, late-bound as property get and put of "X". Every call returns
// an HRESULT; a bad index, a missing file or an absent object is a failure
// HRESULT (DISP_E_BADINDEX, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), E_FAIL)
// with the out-parameter null or 0, never a crash. Out-parameters are [out]:
// the callee overwrites them without freeing; interface pointers handed out
// carry a reference for the caller, strings are new BSTRs for the caller.
//
// Only the members the system uses exist; the rest of the original object
// model is left out on purpose.
#pragma once

#include "com/Dispatch.h"

// Tri-state booleans of the object model.
enum MsoTriState : LONG { msoFalse = 0, msoTrue = -1 };

enum PpSaveAsFileType : LONG { ppSaveAsPresentation = 1 };
enum PpSlideLayout : LONG { ppLayoutTitle = 1, ppLayoutText = 2, ppLayoutTitleOnly = 11 };
enum PpSlideShowAdvanceMode : LONG { ppSlideShowManualAdvance = 1, ppSlideShowUseSlideTimings = 2 };
enum PpSlideShowType : LONG { ppShowTypeSpeaker = 1, ppShowTypeWindow = 2, ppShowTypeKiosk = 3 };
enum PpSlideShowState : LONG {
  ppSlideShowRunning = 1,
  ppSlideShowPaused = 2,
  ppSlideShowBlackScreen = 3,
  ppSlideShowWhiteScreen = 4,
  ppSlideShowDone = 5,
};
enum PpSlideShowPointerType : LONG {
  ppSlideShowPointerNone = 0,
  ppSlideShowPointerArrow = 1,
  ppSlideShowPointerPen = 2,
  ppSlideShowPointerAlwaysHidden = 3,
  ppSlideShowPointerAutoArrow = 4,
  ppSlideShowPointerEraser = 5,
};

struct Presentations;
struct _Presentation;
struct Slides;
struct _Slide;
struct Shapes;
struct Shape;
struct TextFrame;
struct TextRange;
struct SlideShowSettings;
struct SlideShowWindows;
struct SlideShowWindow;
struct SlideShowView;
struct Tags;
struct ColorFormat;
struct MouseTracker;

// The application: one per host process.
struct _Application : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{91493442-5A91-11CF-8700-00AA0060263B}");
  virtual HRESULT get_Presentations(Presentations** ppRet) = 0;
  // The presentation shown in the frame window; E_FAIL (and null) when none.
  virtual HRESULT get_ActivePresentation(_Presentation** ppRet) = 0;
  virtual HRESULT get_SlideShowWindows(SlideShowWindows** ppRet) = 0;
  // The frame title's first part: the application's name.
  virtual HRESULT get_Caption(BSTR* pbstrRet) = 0;

 protected:
  ~_Application() = default;
};

// The open presentations, 1-based.
struct Presentations : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{91493462-5A91-11CF-8700-00AA0060263B}");
  virtual HRESULT get_Count(LONG* pnRet) = 0;
  // Index: a number (1-based) or a presentation's name.
  virtual HRESULT Item(VARIANT Index, _Presentation** ppRet) = 0;
  // A new empty presentation (default design); WithWindow optional, msoTrue.
  virtual HRESULT Add(MsoTriState WithWindow, _Presentation** ppRet) = 0;
  // Opens a presentation file; the optional arguments default to ReadOnly
  // msoFalse, Untitled msoFalse, WithWindow msoTrue. An untitled one has no
  // file name (Save fails until SaveAs); one with a window becomes active.
  // HRESULT_FROM_WIN32(2) for a missing file, HRESULT_FROM_WIN32(1392) for one
  // that is corrupt or truncated.
  virtual HRESULT Open(BSTR FileName, MsoTriState ReadOnly, MsoTriState Untitled,
                       MsoTriState WithWindow, _Presentation** ppRet) = 0;

 protected:
  ~Presentations() = default;
};

struct _Presentation : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{9149349D-5A91-11CF-8700-00AA0060263B}");
  virtual HRESULT get_Slides(Slides** ppRet) = 0;
  virtual HRESULT get_SlideShowSettings(SlideShowSettings** ppRet) = 0;
  virtual HRESULT get_Tags(Tags** ppRet) = 0;
  // The file's base name ("Talk.ppt"), or "PresentationN" before it has one.
  virtual HRESULT get_Name(BSTR* pbstrRet) = 0;
  // The full path, or the name before it has one.
  virtual HRESULT get_FullName(BSTR* pbstrRet) = 0;
  // Writes the presentation to its own file; E_FAIL when it has none or is
  // read-only.
  virtual HRESULT Save() = 0;
  // Writes it under FileName, which becomes its file. FileFormat and
  // EmbedTrueTypeFonts are optional and otherwise ignored.
  virtual HRESULT SaveAs(BSTR FileName, PpSaveAsFileType FileFormat,
                         MsoTriState EmbedTrueTypeFonts) = 0;
  // Writes a copy under FileName; the presentation keeps its own file.
  virtual HRESULT SaveCopyAs(BSTR FileName, PpSaveAsFileType FileFormat,
                             MsoTriState EmbedTrueTypeFonts) = 0;
  // Closes it (and its slide-show window); later calls on it give E_FAIL.
  virtual HRESULT Close() = 0;

 protected:
  ~_Presentation() = default;
};

// A presentation's slides, 1-based.
struct Slides : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{91493469-5A91-11CF-8700-00AA0060263B}");
  virtual HRESULT get_Count(LONG* pnRet) = 0;
  // Index: a number (VT_I4 or any number type), 1-based.
  virtual HRESULT Item(VARIANT Index, _Slide** ppRet) = 0;
  // A new slide at Index (1 .. Count + 1) with the layout's placeholders.
  virtual HRESULT Add(LONG Index, PpSlideLayout Layout, _Slide** ppRet) = 0;
  // Inserts slides SlideStart .. SlideEnd (1-based, SlideEnd -1: to the last)
  // of the presentation file FileName after slide Index (0: at the front);
  // *pnRet (optional out) is the number inserted.
  virtual HRESULT InsertFromFile(BSTR FileName, LONG Index, LONG SlideStart, LONG SlideEnd,
                                 LONG* pnRet) = 0;
  // Inserts the slide last copied (_Slide::Copy) at Index (-1: after the
  // last); E_FAIL when nothing was copied.
  virtual HRESULT Paste(LONG Index) = 0;

 protected:
  ~Slides() = default;
};

struct _Slide : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{9149346A-5A91-11CF-8700-00AA0060263B}");
  // The presentation it belongs to (query it for _Presentation).
  virtual HRESULT get_Parent(IDispatch** ppRet) = 0;
  virtual HRESULT get_Shapes(Shapes** ppRet) = 0;
  // Its position in the presentation, 1-based.
  virtual HRESULT get_SlideIndex(LONG* pnRet) = 0;
  // Copies the slide (design, texts, steps) to the application's clipboard.
  virtual HRESULT Copy() = 0;
  // Removes it; later calls on it give E_FAIL.
  virtual HRESULT Delete() = 0;

 protected:
  ~_Slide() = default;
};

// A slide's shapes: its title and body placeholders.
struct Shapes : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{91493475-5A91-11CF-8700-00AA0060263B}");
  virtual HRESULT get_HasTitle(MsoTriState* pRet) = 0;
  // E_FAIL (null) when the slide has no title.
  virtual HRESULT get_Title(Shape** ppRet) = 0;
  // Adds the title placeholder; E_FAIL when it exists.
  virtual HRESULT AddTitle(Shape** ppRet) = 0;

 protected:
  ~Shapes() = default;
};

struct Shape : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{91493479-5A91-11CF-8700-00AA0060263B}");
  virtual HRESULT get_TextFrame(TextFrame** ppRet) = 0;

 protected:
  ~Shape() = default;
};

struct TextFrame : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{91493484-5A91-11CF-8700-00AA0060263B}");
  virtual HRESULT get_TextRange(TextRange** ppRet) = 0;

 protected:
  ~TextFrame() = default;
};

struct TextRange : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{9149348F-5A91-11CF-8700-00AA0060263B}");
  virtual HRESULT get_Text(BSTR* pbstrRet) = 0;
  virtual HRESULT put_Text(BSTR bstrText) = 0;

 protected:
  ~TextRange() = default;
};

struct SlideShowSettings : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{9149345A-5A91-11CF-8700-00AA0060263B}");
  virtual HRESULT get_AdvanceMode(PpSlideShowAdvanceMode* pRet) = 0;
  virtual HRESULT put_AdvanceMode(PpSlideShowAdvanceMode Mode) = 0;
  virtual HRESULT get_ShowType(PpSlideShowType* pRet) = 0;
  virtual HRESULT put_ShowType(PpSlideShowType Type) = 0;
  // Starts the presentation's slide show at its first slide and hands out its
  // new window; E_FAIL for a presentation without slides or already showing.
  virtual HRESULT Run(SlideShowWindow** ppRet) = 0;

 protected:
  ~SlideShowSettings() = default;
};

// The running slide-show windows, 1-based, in the order they started.
struct SlideShowWindows : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{91493456-5A91-11CF-8700-00AA0060263B}");
  virtual HRESULT get_Count(LONG* pnRet) = 0;
  virtual HRESULT Item(LONG Index, SlideShowWindow** ppRet) = 0;

 protected:
  ~SlideShowWindows() = default;
};

struct SlideShowWindow : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{91493453-5A91-11CF-8700-00AA0060263B}");
  virtual HRESULT get_View(SlideShowView** ppRet) = 0;
  virtual HRESULT get_Presentation(_Presentation** ppRet) = 0;

 protected:
  ~SlideShowWindow() = default;
};

// What a slide-show window shows, and how it is moved. After Exit every call
// gives E_FAIL.
struct SlideShowView : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{91493459-5A91-11CF-8700-00AA0060263B}");
  // The slide shown.
  virtual HRESULT get_Slide(_Slide** ppRet) = 0;
  // The 1-based index of the slide shown in its presentation.
  virtual HRESULT get_CurrentShowPosition(LONG* pnRet) = 0;
  virtual HRESULT get_PointerType(PpSlideShowPointerType* pRet) = 0;
  virtual HRESULT put_PointerType(PpSlideShowPointerType Type) = 0;
  virtual HRESULT get_State(PpSlideShowState* pRet) = 0;
  virtual HRESULT put_State(PpSlideShowState State) = 0;
  virtual HRESULT get_AcceleratorsEnabled(MsoTriState* pRet) = 0;
  // msoFalse: the user's keys and clicks no longer move the show.
  virtual HRESULT put_AcceleratorsEnabled(MsoTriState Enabled) = 0;
  // The pen colour; setting its RGB changes the colour of lines drawn after.
  virtual HRESULT get_PointerColor(ColorFormat** ppRet) = 0;
  // A pen line in slide-show coordinates, in the pen colour.
  virtual HRESULT DrawLine(float BeginX, float BeginY, float EndX, float EndY) = 0;
  // Removes every pen line of the slide shown.
  virtual HRESULT EraseDrawing() = 0;
  // The next animation step, or the next slide after the last step (and the
  // end of the show after the last slide). Previous the reverse.
  virtual HRESULT Next() = 0;
  virtual HRESULT Previous() = 0;
  // Shows slide Index (1-based); ResetSlide msoTrue starts it at step 0.
  virtual HRESULT GotoSlide(LONG Index, MsoTriState ResetSlide) = 0;
  // Ends the show; the window goes.
  virtual HRESULT Exit() = 0;
  // pTracker's OnTrack and EndTrack receive the pen strokes from now on
  // (Presenter is ignored); the view holds a reference until the show ends.
  // A null pTracker removes the one installed (and its reference), so that
  // an owner about to destroy its tracker is never called again.
  virtual HRESULT InstallTracker(MouseTracker* pTracker, MsoTriState Presenter) = 0;

 protected:
  ~SlideShowView() = default;
};

// Name/value texts kept with a presentation; names compare without case.
struct Tags : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{914934B9-5A91-11CF-8700-00AA0060263B}");
  virtual HRESULT get_Count(LONG* pnRet) = 0;
  // The value of tag Name; "" (S_OK) when there is none.
  virtual HRESULT Item(BSTR Name, BSTR* pbstrRet) = 0;
  // Sets or replaces tag Name.
  virtual HRESULT Add(BSTR Name, BSTR Value) = 0;

 protected:
  ~Tags() = default;
};

// A colour: RGB value with red in the low byte.
struct ColorFormat : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{91493452-5A91-11CF-8700-00AA0060263B}");
  virtual HRESULT get_RGB(LONG* pnRet) = 0;
  virtual HRESULT put_RGB(LONG nRGB) = 0;

 protected:
  ~ColorFormat() = default;
};

// Implemented by a client and installed in a slide-show view: receives each
// pen movement (OnTrack) and the end of each stroke (EndTrack), in the view's
// coordinates, on the host's main thread.
struct MouseTracker : IUnknown {
  static constexpr IID kIID = com::MakeGuid("{914934BE-5A91-11CF-8700-00AA0060263B}");
  virtual HRESULT OnTrack(float X, float Y) = 0;
  virtual HRESULT EndTrack(float X, float Y) = 0;

 protected:
  ~MouseTracker() = default;
};
