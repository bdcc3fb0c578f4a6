#include "browser_control.hpp"

#include <exdisp.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <mshtml.h>
#include <ole2.h>
#include <wrl/client.h>

#include "app/main_layout.hpp"
#include "platform/win_text.hpp"
#include "window.hpp"

using Microsoft::WRL::ComPtr;

namespace {

enum MenuCommand : UINT { menu_print = 1, menu_open, menu_folder, menu_find, menu_copy };

// Navigate2's flags: navNoHistory | navNoReadFromCache.
constexpr long fresh_navigation = 0x2 | 0x4;

bool command_enabled(IWebBrowser2* browser, OLECMDID command) {
  OLECMDF state{};
  return SUCCEEDED(browser->QueryStatusWB(command, &state)) && (state & OLECMDF_ENABLED);
}

// A VARIANT argument of an event: taken by reference or by value as the control passes it.
const VARIANT& argument(const VARIANTARG& value) {
  return (value.vt & VT_BYREF) && (value.vt & ~VT_BYREF) == VT_VARIANT ? *value.pvarVal : value;
}

}  // namespace

// The control's container: its client site, in-place site and frame, the host of its
// document's user interface and the sink of its events. One object, counted by the
// control's references and the BrowserControl's own.
class BrowserSite final : public IOleClientSite,
                          public IOleInPlaceSite,
                          public IOleInPlaceFrame,
                          public IDocHostUIHandler,
                          public IDispatch {
 public:
  BrowserSite(HWND window, BrowserControl::Events events) : window_(window), events_(std::move(events)) {}

  /// Makes the control and activates it in place in window_; false when the system cannot.
  bool embed();
  /// Deactivates and closes the control and stops its events; the site stays until its
  /// last reference goes.
  void close();

  IWebBrowser2* browser() const { return browser_.Get(); }
  void resize();
  void focus();
  bool translate_key(MSG& message);
  /// Prints the page after the system's print dialog; false when there is no page to print.
  bool print();
  /// Opens the control's find dialog; false when it has none for the page shown.
  bool find();

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    *moniker = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** container) override {
    *container = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(WINBOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow, for both the in-place site and the frame
  STDMETHODIMP GetWindow(HWND* window) override {
    *window = window_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(WINBOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, RECT* position, RECT* clip,
                                OLEINPLACEFRAMEINFO* info) override;
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(WINBOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override {
    active_.Reset();
    return S_OK;
  }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow and IOleInPlaceFrame: the frame has no menus, tools or status bar
  // for the control.
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override {
    active_ = object;
    return S_OK;
  }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(WINBOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDocHostUIHandler
  STDMETHODIMP ShowContextMenu(DWORD, POINT* at, IUnknown*, IDispatch*) override;
  STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override;
  STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                      IOleInPlaceUIWindow*) override {
    return S_OK;
  }
  STDMETHODIMP HideUI() override { return S_OK; }
  STDMETHODIMP UpdateUI() override { return S_OK; }
  STDMETHODIMP OnDocWindowActivate(WINBOOL) override { return S_OK; }
  STDMETHODIMP OnFrameWindowActivate(WINBOOL) override { return S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, WINBOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG message, const GUID*, DWORD) override;
  STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override {
    *key = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** target) override {
    *target = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetExternal(IDispatch** external) override {
    *external = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* out) override {
    *out = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** out) override {
    *out = nullptr;
    return S_FALSE;
  }

  // IDispatch: the sink of DWebBrowserEvents2
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*, UINT*) override;

 private:
  ~BrowserSite() = default;
  /// True when the event's first argument is the top browser, not one of its frames.
  bool is_top(const DISPPARAMS* parameters) const;

  ULONG references_ = 1;
  HWND window_;
  BrowserControl::Events events_;
  ComPtr<IOleObject> object_;
  ComPtr<IWebBrowser2> browser_;
  ComPtr<IOleInPlaceActiveObject> active_;
  DWORD cookie_ = 0;  ///< the events' connection; 0 when not connected
};

STDMETHODIMP BrowserSite::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IOleClientSite)
    *object = static_cast<IOleClientSite*>(this);
  else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
    *object = static_cast<IOleInPlaceSite*>(this);
  else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame)
    *object = static_cast<IOleInPlaceFrame*>(this);
  else if (iid == IID_IDocHostUIHandler)
    *object = static_cast<IDocHostUIHandler*>(this);
  else if (iid == IID_IDispatch || iid == DIID_DWebBrowserEvents2)
    *object = static_cast<IDispatch*>(this);
  else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

bool BrowserSite::embed() {
  if (FAILED(::CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object_)))) return false;
  if (FAILED(object_->SetClientSite(this)) || FAILED(object_.As(&browser_))) return false;
  RECT area{};
  ::GetClientRect(window_, &area);
  if (FAILED(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, 0, window_, &area))) return false;
  // The page's script errors, if any, are not the doctor's to answer; a file dropped on
  // the view does not replace the report.
  browser_->put_Silent(VARIANT_TRUE);
  browser_->put_RegisterAsDropTarget(VARIANT_FALSE);
  ComPtr<IConnectionPointContainer> points;
  ComPtr<IConnectionPoint> point;
  if (SUCCEEDED(browser_.As(&points)) && SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, &point)))
    point->Advise(static_cast<IDispatch*>(this), &cookie_);
  return cookie_ != 0;
}

void BrowserSite::close() {
  if (cookie_ && browser_) {
    ComPtr<IConnectionPointContainer> points;
    ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(browser_.As(&points)) && SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, &point)))
      point->Unadvise(cookie_);
    cookie_ = 0;
  }
  if (browser_) browser_->Stop();
  if (object_) {
    ComPtr<IOleInPlaceObject> in_place;
    if (SUCCEEDED(object_.As(&in_place))) in_place->InPlaceDeactivate();
    object_->Close(OLECLOSE_NOSAVE);
    object_->SetClientSite(nullptr);
  }
  active_.Reset();
  browser_.Reset();
  object_.Reset();
  events_ = {};
}

void BrowserSite::resize() {
  ComPtr<IOleInPlaceObject> in_place;
  if (!object_ || FAILED(object_.As(&in_place))) return;
  RECT area{};
  ::GetClientRect(window_, &area);
  in_place->SetObjectRects(&area, &area);
}

void BrowserSite::focus() {
  if (!object_) return;
  RECT area{};
  ::GetClientRect(window_, &area);
  object_->DoVerb(OLEIVERB_UIACTIVATE, nullptr, this, 0, window_, &area);
}

bool BrowserSite::translate_key(MSG& message) {
  return active_ && message.hwnd && ::IsChild(window_, message.hwnd) && active_->TranslateAccelerator(&message) == S_OK;
}

bool BrowserSite::print() {
  if (!browser_ || !command_enabled(browser_.Get(), OLECMDID_PRINT)) return false;
  // The control's header and footer for this print, in place of the page setup's (title,
  // address, date): none above, as the page repeats its own header on every sheet, and
  // "Pagina N di M" centred below ("&b" centres, "&p" and "&P" are the page and the total).
  VARIANT texts;
  ::VariantInit(&texts);
  if (SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, 2)) {
    texts.vt = VT_ARRAY | VT_VARIANT;
    texts.parray = array;
    const wchar_t* const header_footer[] = {L"", L"&bPagina &p di &P"};
    for (LONG i = 0; i < 2; ++i) {
      VARIANT text;
      text.vt = VT_BSTR;
      text.bstrVal = ::SysAllocString(header_footer[i]);
      ::SafeArrayPutElement(array, &i, &text);  // copies the text
      ::VariantClear(&text);
    }
  }
  browser_->ExecWB(OLECMDID_PRINT, OLECMDEXECOPT_PROMPTUSER, texts.vt == VT_EMPTY ? nullptr : &texts, nullptr);
  ::VariantClear(&texts);
  return true;
}

bool BrowserSite::find() {
  if (!browser_ || !command_enabled(browser_.Get(), OLECMDID_FIND)) return false;
  return SUCCEEDED(browser_->ExecWB(OLECMDID_FIND, OLECMDEXECOPT_PROMPTUSER, nullptr, nullptr));
}

STDMETHODIMP BrowserSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, RECT* position,
                                           RECT* clip, OLEINPLACEFRAMEINFO* info) {
  *frame = static_cast<IOleInPlaceFrame*>(this);
  AddRef();
  *document = nullptr;
  ::GetClientRect(window_, position);
  ::GetClientRect(window_, clip);
  info->fMDIApp = FALSE;
  info->hwndFrame = ::GetAncestor(window_, GA_ROOT);
  info->haccel = nullptr;
  info->cAccelEntries = 0;
  return S_OK;
}

STDMETHODIMP BrowserSite::ShowContextMenu(DWORD, POINT* at, IUnknown*, IDispatch*) {
  // The control's own menu offers going back, the page's source and the like: the view
  // offers what a doctor needs of a report instead.
  if (!browser_) return S_OK;
  HMENU menu = ::CreatePopupMenu();
  const auto state = [&](OLECMDID command) {
    return command_enabled(browser_.Get(), command) ? MF_ENABLED : MF_GRAYED;
  };
  // A page that can be printed is a page shown, which the system's browser can open too.
  ::AppendMenuW(menu, MF_STRING | state(OLECMDID_PRINT), menu_print,
                platform::win::widen(main_layout::action_print).c_str());
  ::AppendMenuW(menu, MF_STRING | state(OLECMDID_PRINT), menu_open,
                platform::win::widen(main_layout::action_open_in_browser).c_str());
  const bool folder = events_.folder_available && events_.folder_available();
  ::AppendMenuW(menu, MF_STRING | (folder ? MF_ENABLED : MF_GRAYED), menu_folder,
                platform::win::widen(main_layout::action_open_folder).c_str());
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING | state(OLECMDID_FIND), menu_find,
                platform::win::widen(main_layout::action_find).c_str());
  ::AppendMenuW(menu, MF_STRING | state(OLECMDID_COPY), menu_copy,
                platform::win::widen(main_layout::action_copy).c_str());
  const UINT chosen =
      ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at->x, at->y, 0, window_, nullptr);
  ::DestroyMenu(menu);
  switch (chosen) {
    case menu_print:
      print();
      break;
    case menu_open: {
      BSTR address = nullptr;
      if (SUCCEEDED(browser_->get_LocationURL(&address)) && address) {
        const std::string url = platform::win::narrow(address);
        if (!win32ui::open_in_browser(window_, url) && events_.open_failed) events_.open_failed(url);
        ::SysFreeString(address);
      }
      break;
    }
    case menu_folder:
      if (events_.open_folder) events_.open_folder();
      break;
    case menu_find:
      find();
      break;
    case menu_copy:
      browser_->ExecWB(OLECMDID_COPY, OLECMDEXECOPT_DODEFAULT, nullptr, nullptr);
      break;
    default:
      break;
  }
  return S_OK;
}

STDMETHODIMP BrowserSite::GetHostInfo(DOCHOSTUIINFO* info) {
  // The child window draws the edge; the page's controls follow the system's theme.
  info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_THEME | DOCHOSTUIFLAG_DISABLE_HELP_MENU;
  info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
  return S_OK;
}

STDMETHODIMP BrowserSite::TranslateAccelerator(LPMSG message, const GUID*, DWORD) {
  // Keys that would open another window or another address are not the view's.
  if (message->message != WM_KEYDOWN || ::GetKeyState(VK_CONTROL) >= 0) return S_FALSE;
  switch (message->wParam) {
    case 'N':  // new window
    case 'O':  // open an address
    case 'L':
      return S_OK;
    default:
      return S_FALSE;
  }
}

bool BrowserSite::is_top(const DISPPARAMS* parameters) const {
  // The events' arguments come last first: the browser that fired is the first one.
  if (!browser_ || parameters->cArgs == 0) return false;
  const VARIANT& first = argument(parameters->rgvarg[parameters->cArgs - 1]);
  if (first.vt != VT_DISPATCH || !first.pdispVal) return false;
  ComPtr<IUnknown> fired;
  ComPtr<IUnknown> ours;
  return SUCCEEDED(first.pdispVal->QueryInterface(IID_PPV_ARGS(&fired))) && SUCCEEDED(browser_.As(&ours)) &&
         fired.Get() == ours.Get();
}

STDMETHODIMP BrowserSite::Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*,
                                 UINT*) {
  switch (member) {
    case DISPID_NAVIGATECOMPLETE2:
      if (is_top(parameters) && events_.navigated) events_.navigated();
      break;
    case DISPID_DOCUMENTCOMPLETE:
      if (is_top(parameters) && events_.completed) events_.completed();
      break;
    case DISPID_NEWWINDOW2:
    case DISPID_NEWWINDOW3:
      // A link opened in a new window (Shift+click) would leave a browser window behind
      // the program: the view keeps to its one page. Cancel is the one boolean by reference.
      for (UINT i = 0; i < parameters->cArgs; ++i)
        if (parameters->rgvarg[i].vt == (VT_BYREF | VT_BOOL)) *parameters->rgvarg[i].pboolVal = VARIANT_TRUE;
      break;
    default:
      break;
  }
  return S_OK;
}

std::unique_ptr<BrowserControl> BrowserControl::create(HWND parent, int id, Events events) {
  static const wchar_t* window_class =
      win32ui::register_class(L"PIVZONA12ReportBrowser", &BrowserControl::procedure, COLOR_WINDOW + 1);
  // Clipboard and in-place activation need OLE, not only COM, on this thread.
  const bool ole = SUCCEEDED(::OleInitialize(nullptr));
  HWND window = ::CreateWindowExW(WS_EX_CLIENTEDGE, window_class, L"", WS_CHILD | WS_TABSTOP | WS_CLIPCHILDREN, 0, 0,
                                  100, 100, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                  ::GetModuleHandleW(nullptr), nullptr);
  auto* site = window ? new BrowserSite(window, std::move(events)) : nullptr;
  if (!site || !site->embed()) {
    if (site) {
      site->close();
      site->Release();
    }
    if (window) ::DestroyWindow(window);
    if (ole) ::OleUninitialize();
    return nullptr;
  }
  std::unique_ptr<BrowserControl> control(new BrowserControl(window, site));
  control->ole_ = ole;
  return control;
}

BrowserControl::BrowserControl(HWND window, BrowserSite* site) : window_(window), site_(site) {
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

BrowserControl::~BrowserControl() {
  // Destroying the window closes the control; its parent may have destroyed it already.
  if (window_) ::DestroyWindow(window_);
  site_->close();
  site_->Release();
  if (ole_) ::OleUninitialize();
}

LRESULT CALLBACK BrowserControl::procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* control = reinterpret_cast<BrowserControl*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (control) {
    switch (message) {
      case WM_SIZE:
        control->site_->resize();
        return 0;
      case WM_SETFOCUS:
        // Tab reached the view: the page takes the focus.
        control->site_->focus();
        return 0;
      case WM_DESTROY:
        // The control's own windows are children of this one: it is closed while they exist.
        control->site_->close();
        break;
      case WM_NCDESTROY:
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        control->window_ = nullptr;
        break;
      default:
        break;
    }
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

bool BrowserControl::navigate(const std::string& url, bool fresh) {
  IWebBrowser2* browser = site_->browser();
  if (!browser) return false;
  BSTR address = ::SysAllocString(platform::win::widen(url).c_str());
  VARIANT flags;
  ::VariantInit(&flags);
  flags.vt = VT_I4;
  flags.lVal = fresh ? fresh_navigation : 0;
  VARIANT none;
  ::VariantInit(&none);
  const HRESULT result = browser->Navigate(address, &flags, &none, &none, &none);
  ::SysFreeString(address);
  return SUCCEEDED(result);
}

READYSTATE BrowserControl::ready_state() const {
  READYSTATE state = READYSTATE_UNINITIALIZED;
  IWebBrowser2* browser = site_->browser();
  if (!browser || FAILED(browser->get_ReadyState(&state))) return READYSTATE_UNINITIALIZED;
  return state;
}

void BrowserControl::scroll_to_top() {
  IWebBrowser2* browser = site_->browser();
  ComPtr<IDispatch> document;
  if (!browser || FAILED(browser->get_Document(&document)) || !document) return;
  ComPtr<IHTMLDocument2> html;
  ComPtr<IHTMLWindow2> page;
  if (SUCCEEDED(document.As(&html)) && SUCCEEDED(html->get_parentWindow(&page)) && page) page->scrollTo(0, 0);
}

bool BrowserControl::print() { return site_->print(); }

bool BrowserControl::find() { return site_->find(); }

bool BrowserControl::translate_key(MSG& message) { return site_->translate_key(message); }
