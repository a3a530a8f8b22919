#pragma once

// Every method of the browser's and the HTML engine's long interfaces
// answering E_NOTIMPL. A fake derives from one of these, implements IUnknown
// and overrides only the few methods it models, so that a call the fake does
// not expect fails plainly instead of jumping through a missing slot.

#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>

#define NOT_IMPLEMENTED(method, ...)            \
    STDMETHODIMP method(__VA_ARGS__) override { \
        return E_NOTIMPL;                       \
    }
// A property's put_ and get_ pair.
#define NOT_IMPLEMENTED_PROPERTY(name, type) \
    NOT_IMPLEMENTED(put_##name, type)        \
    NOT_IMPLEMENTED(get_##name, type*)

template <typename Interface>
class UnimplementedDispatch : public Interface {
  public:
    NOT_IMPLEMENTED(GetTypeInfoCount, UINT*)
    NOT_IMPLEMENTED(GetTypeInfo, UINT, LCID, ITypeInfo**)
    NOT_IMPLEMENTED(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)
    NOT_IMPLEMENTED(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
};

class UnimplementedWebBrowser2 : public UnimplementedDispatch<IWebBrowser2> {
  public:
    // IWebBrowser
    NOT_IMPLEMENTED(GoBack)
    NOT_IMPLEMENTED(GoForward)
    NOT_IMPLEMENTED(GoHome)
    NOT_IMPLEMENTED(GoSearch)
    NOT_IMPLEMENTED(Navigate, BSTR, VARIANT*, VARIANT*, VARIANT*, VARIANT*)
    NOT_IMPLEMENTED(Refresh)
    NOT_IMPLEMENTED(Refresh2, VARIANT*)
    NOT_IMPLEMENTED(Stop)
    NOT_IMPLEMENTED(get_Application, IDispatch**)
    NOT_IMPLEMENTED(get_Parent, IDispatch**)
    NOT_IMPLEMENTED(get_Container, IDispatch**)
    NOT_IMPLEMENTED(get_Document, IDispatch**)
    NOT_IMPLEMENTED(get_TopLevelContainer, VARIANT_BOOL*)
    NOT_IMPLEMENTED(get_Type, BSTR*)
    NOT_IMPLEMENTED_PROPERTY(Left, LONG)
    NOT_IMPLEMENTED_PROPERTY(Top, LONG)
    NOT_IMPLEMENTED_PROPERTY(Width, LONG)
    NOT_IMPLEMENTED_PROPERTY(Height, LONG)
    NOT_IMPLEMENTED(get_LocationName, BSTR*)
    NOT_IMPLEMENTED(get_LocationURL, BSTR*)
    NOT_IMPLEMENTED(get_Busy, VARIANT_BOOL*)
    // IWebBrowserApp
    NOT_IMPLEMENTED(Quit)
    NOT_IMPLEMENTED(ClientToWindow, int*, int*)
    NOT_IMPLEMENTED(PutProperty, BSTR, VARIANT)
    NOT_IMPLEMENTED(GetProperty, BSTR, VARIANT*)
    NOT_IMPLEMENTED(get_Name, BSTR*)
    NOT_IMPLEMENTED(get_HWND, SHANDLE_PTR*)
    NOT_IMPLEMENTED(get_FullName, BSTR*)
    NOT_IMPLEMENTED(get_Path, BSTR*)
    NOT_IMPLEMENTED_PROPERTY(Visible, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(StatusBar, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(StatusText, BSTR)
    NOT_IMPLEMENTED_PROPERTY(ToolBar, int)
    NOT_IMPLEMENTED_PROPERTY(MenuBar, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(FullScreen, VARIANT_BOOL)
    // IWebBrowser2
    NOT_IMPLEMENTED(Navigate2, VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*)
    NOT_IMPLEMENTED(QueryStatusWB, OLECMDID, OLECMDF*)
    NOT_IMPLEMENTED(ExecWB, OLECMDID, OLECMDEXECOPT, VARIANT*, VARIANT*)
    NOT_IMPLEMENTED(ShowBrowserBar, VARIANT*, VARIANT*, VARIANT*)
    NOT_IMPLEMENTED(get_ReadyState, READYSTATE*)
    NOT_IMPLEMENTED_PROPERTY(Offline, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(Silent, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(RegisterAsBrowser, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(RegisterAsDropTarget, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(TheaterMode, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(AddressBar, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(Resizable, VARIANT_BOOL)
};

class UnimplementedHTMLDocument2 : public UnimplementedDispatch<IHTMLDocument2> {
  public:
    // IHTMLDocument
    NOT_IMPLEMENTED(get_Script, IDispatch**)
    // IHTMLDocument2
    NOT_IMPLEMENTED(get_all, IHTMLElementCollection**)
    NOT_IMPLEMENTED(get_body, IHTMLElement**)
    NOT_IMPLEMENTED(get_activeElement, IHTMLElement**)
    NOT_IMPLEMENTED(get_images, IHTMLElementCollection**)
    NOT_IMPLEMENTED(get_applets, IHTMLElementCollection**)
    NOT_IMPLEMENTED(get_links, IHTMLElementCollection**)
    NOT_IMPLEMENTED(get_forms, IHTMLElementCollection**)
    NOT_IMPLEMENTED(get_anchors, IHTMLElementCollection**)
    NOT_IMPLEMENTED_PROPERTY(title, BSTR)
    NOT_IMPLEMENTED(get_scripts, IHTMLElementCollection**)
    NOT_IMPLEMENTED_PROPERTY(designMode, BSTR)
    NOT_IMPLEMENTED(get_selection, IHTMLSelectionObject**)
    NOT_IMPLEMENTED(get_readyState, BSTR*)
    NOT_IMPLEMENTED(get_frames, IHTMLFramesCollection2**)
    NOT_IMPLEMENTED(get_embeds, IHTMLElementCollection**)
    NOT_IMPLEMENTED(get_plugins, IHTMLElementCollection**)
    NOT_IMPLEMENTED_PROPERTY(alinkColor, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(bgColor, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(fgColor, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(linkColor, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(vlinkColor, VARIANT)
    NOT_IMPLEMENTED(get_referrer, BSTR*)
    NOT_IMPLEMENTED(get_location, IHTMLLocation**)
    NOT_IMPLEMENTED(get_lastModified, BSTR*)
    NOT_IMPLEMENTED_PROPERTY(URL, BSTR)
    NOT_IMPLEMENTED_PROPERTY(domain, BSTR)
    NOT_IMPLEMENTED_PROPERTY(cookie, BSTR)
    NOT_IMPLEMENTED_PROPERTY(expando, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(charset, BSTR)
    NOT_IMPLEMENTED_PROPERTY(defaultCharset, BSTR)
    NOT_IMPLEMENTED(get_mimeType, BSTR*)
    NOT_IMPLEMENTED(get_fileSize, BSTR*)
    NOT_IMPLEMENTED(get_fileCreatedDate, BSTR*)
    NOT_IMPLEMENTED(get_fileModifiedDate, BSTR*)
    NOT_IMPLEMENTED(get_fileUpdatedDate, BSTR*)
    NOT_IMPLEMENTED(get_security, BSTR*)
    NOT_IMPLEMENTED(get_protocol, BSTR*)
    NOT_IMPLEMENTED(get_nameProp, BSTR*)
    NOT_IMPLEMENTED(write, SAFEARRAY*)
    NOT_IMPLEMENTED(writeln, SAFEARRAY*)
    NOT_IMPLEMENTED(open, BSTR, VARIANT, VARIANT, VARIANT, IDispatch**)
    NOT_IMPLEMENTED(close)
    NOT_IMPLEMENTED(clear)
    NOT_IMPLEMENTED(queryCommandSupported, BSTR, VARIANT_BOOL*)
    NOT_IMPLEMENTED(queryCommandEnabled, BSTR, VARIANT_BOOL*)
    NOT_IMPLEMENTED(queryCommandState, BSTR, VARIANT_BOOL*)
    NOT_IMPLEMENTED(queryCommandIndeterm, BSTR, VARIANT_BOOL*)
    NOT_IMPLEMENTED(queryCommandText, BSTR, BSTR*)
    NOT_IMPLEMENTED(queryCommandValue, BSTR, VARIANT*)
    NOT_IMPLEMENTED(execCommand, BSTR, VARIANT_BOOL, VARIANT, VARIANT_BOOL*)
    NOT_IMPLEMENTED(execCommandShowHelp, BSTR, VARIANT_BOOL*)
    NOT_IMPLEMENTED(createElement, BSTR, IHTMLElement**)
    NOT_IMPLEMENTED_PROPERTY(onhelp, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onclick, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(ondblclick, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onkeyup, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onkeydown, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onkeypress, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onmouseup, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onmousedown, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onmousemove, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onmouseout, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onmouseover, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onreadystatechange, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onafterupdate, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onrowexit, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onrowenter, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(ondragstart, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onselectstart, VARIANT)
    NOT_IMPLEMENTED(elementFromPoint, LONG, LONG, IHTMLElement**)
    NOT_IMPLEMENTED(get_parentWindow, IHTMLWindow2**)
    NOT_IMPLEMENTED(get_styleSheets, IHTMLStyleSheetsCollection**)
    NOT_IMPLEMENTED_PROPERTY(onbeforeupdate, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onerrorupdate, VARIANT)
    NOT_IMPLEMENTED(toString, BSTR*)
    NOT_IMPLEMENTED(createStyleSheet, BSTR, LONG, IHTMLStyleSheet**)
};

class UnimplementedHTMLElement : public UnimplementedDispatch<IHTMLElement> {
  public:
    // IHTMLElement
    NOT_IMPLEMENTED(setAttribute, BSTR, VARIANT, LONG)
    NOT_IMPLEMENTED(getAttribute, BSTR, LONG, VARIANT*)
    NOT_IMPLEMENTED(removeAttribute, BSTR, LONG, VARIANT_BOOL*)
    NOT_IMPLEMENTED_PROPERTY(className, BSTR)
    NOT_IMPLEMENTED_PROPERTY(id, BSTR)
    NOT_IMPLEMENTED(get_tagName, BSTR*)
    NOT_IMPLEMENTED(get_parentElement, IHTMLElement**)
    NOT_IMPLEMENTED(get_style, IHTMLStyle**)
    NOT_IMPLEMENTED_PROPERTY(onhelp, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onclick, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(ondblclick, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onkeydown, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onkeyup, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onkeypress, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onmouseout, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onmouseover, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onmousemove, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onmousedown, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onmouseup, VARIANT)
    NOT_IMPLEMENTED(get_document, IDispatch**)
    NOT_IMPLEMENTED_PROPERTY(title, BSTR)
    NOT_IMPLEMENTED_PROPERTY(language, BSTR)
    NOT_IMPLEMENTED_PROPERTY(onselectstart, VARIANT)
    NOT_IMPLEMENTED(scrollIntoView, VARIANT)
    NOT_IMPLEMENTED(contains, IHTMLElement*, VARIANT_BOOL*)
    NOT_IMPLEMENTED(get_sourceIndex, LONG*)
    NOT_IMPLEMENTED(get_recordNumber, VARIANT*)
    NOT_IMPLEMENTED_PROPERTY(lang, BSTR)
    NOT_IMPLEMENTED(get_offsetLeft, LONG*)
    NOT_IMPLEMENTED(get_offsetTop, LONG*)
    NOT_IMPLEMENTED(get_offsetWidth, LONG*)
    NOT_IMPLEMENTED(get_offsetHeight, LONG*)
    NOT_IMPLEMENTED(get_offsetParent, IHTMLElement**)
    NOT_IMPLEMENTED_PROPERTY(innerHTML, BSTR)
    NOT_IMPLEMENTED_PROPERTY(innerText, BSTR)
    NOT_IMPLEMENTED_PROPERTY(outerHTML, BSTR)
    NOT_IMPLEMENTED_PROPERTY(outerText, BSTR)
    NOT_IMPLEMENTED(insertAdjacentHTML, BSTR, BSTR)
    NOT_IMPLEMENTED(insertAdjacentText, BSTR, BSTR)
    NOT_IMPLEMENTED(get_parentTextEdit, IHTMLElement**)
    NOT_IMPLEMENTED(get_isTextEdit, VARIANT_BOOL*)
    NOT_IMPLEMENTED(click)
    NOT_IMPLEMENTED(get_filters, IHTMLFiltersCollection**)
    NOT_IMPLEMENTED_PROPERTY(ondragstart, VARIANT)
    NOT_IMPLEMENTED(toString, BSTR*)
    NOT_IMPLEMENTED_PROPERTY(onbeforeupdate, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onafterupdate, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onerrorupdate, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onrowexit, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onrowenter, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(ondatasetchanged, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(ondataavailable, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(ondatasetcomplete, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onfilterchange, VARIANT)
    NOT_IMPLEMENTED(get_children, IDispatch**)
    NOT_IMPLEMENTED(get_all, IDispatch**)
};

class UnimplementedHTMLAnchorElement : public UnimplementedDispatch<IHTMLAnchorElement> {
  public:
    // IHTMLAnchorElement
    NOT_IMPLEMENTED_PROPERTY(href, BSTR)
    NOT_IMPLEMENTED_PROPERTY(target, BSTR)
    NOT_IMPLEMENTED_PROPERTY(rel, BSTR)
    NOT_IMPLEMENTED_PROPERTY(rev, BSTR)
    NOT_IMPLEMENTED_PROPERTY(urn, BSTR)
    NOT_IMPLEMENTED_PROPERTY(Methods, BSTR)
    NOT_IMPLEMENTED_PROPERTY(name, BSTR)
    NOT_IMPLEMENTED_PROPERTY(host, BSTR)
    NOT_IMPLEMENTED_PROPERTY(hostname, BSTR)
    NOT_IMPLEMENTED_PROPERTY(pathname, BSTR)
    NOT_IMPLEMENTED_PROPERTY(port, BSTR)
    NOT_IMPLEMENTED_PROPERTY(protocol, BSTR)
    NOT_IMPLEMENTED_PROPERTY(search, BSTR)
    NOT_IMPLEMENTED_PROPERTY(hash, BSTR)
    NOT_IMPLEMENTED_PROPERTY(onblur, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(onfocus, VARIANT)
    NOT_IMPLEMENTED_PROPERTY(accessKey, BSTR)
    NOT_IMPLEMENTED(get_protocolLong, BSTR*)
    NOT_IMPLEMENTED(get_mimeType, BSTR*)
    NOT_IMPLEMENTED(get_nameProp, BSTR*)
    NOT_IMPLEMENTED_PROPERTY(tabIndex, short)
    NOT_IMPLEMENTED(focus)
    NOT_IMPLEMENTED(blur)
};

// A sink that lives on the test's stack: answers IUnknown and IDispatch and
// counts its references without ever deleting itself. A test's sink derives
// from it and overrides Invoke.
class StackDispatch : public UnimplementedDispatch<IDispatch> {
  public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch))
            return E_NOINTERFACE;
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    ULONG refs = 1;
};
