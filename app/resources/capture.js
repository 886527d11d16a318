// Runs in every document of every recorder page before any of the page's
// scripts: in the page's own world where no other document's script can reach
// the document first, else in a world of the program's own. It tells the
// browser, before the request leaves, what a form submission will send (the
// engine does not expose request bodies), which navigations the page itself
// starts (to tell them from server redirects), and when a frame's document is
// created and loaded.
//
// The page may share the world, so the script keeps to rules that leave the
// page unable to see or feed it: everything it uses later is taken now, before
// the page's scripts run, and is called directly (never through a property of
// a built-in object, nor Function.prototype.call, which the page may replace);
// its own objects have no prototype; its state lives in this closure; its
// messages carry a secret of the program's that nothing the page can reach
// ever receives.
(function () {
    'use strict';
    const marker = '@MARKER@';
    // Whether this is the top document, found without reaching another window
    // (which would give that window's document a context in this world, and
    // every later document of it too).
    const pageWorld = @PAGE_WORLD@; // else the program's own world
    const isTop = pageWorld || location.ancestorOrigins.length === 0;
    // The frames' script: the top document has a script of its own.
    if (@FRAMES_ONLY@ && isTop)
        return;

    const bind = Function.prototype.bind;
    const call = Function.prototype.call;
    const uncurry = function (f) { return bind.call(call, f); };
    const describeOwn = Object.getOwnPropertyDescriptor;
    const getter = function (proto, name) { return uncurry(describeOwn(proto, name).get); };
    const method = function (proto, name) { return uncurry(proto[name]); };

    const debug = bind.call(console.debug, console);
    const stringify = JSON.stringify;
    const later = bind.call(setTimeout, window);
    const listen = method(EventTarget.prototype, 'addEventListener');
    const unlisten = method(EventTarget.prototype, 'removeEventListener');
    const documentUrl = getter(Document.prototype, 'URL');
    const indexOf = method(String.prototype, 'indexOf');
    const slice = method(String.prototype, 'slice');
    const charCodeAt = method(String.prototype, 'charCodeAt');
    const toLowerCase = method(String.prototype, 'toLowerCase');
    const WeakSetOf = WeakSet;
    const weakAdd = method(WeakSet.prototype, 'add');
    const weakHas = method(WeakSet.prototype, 'has');

    // What the handlers use of events, forms and addresses. In the page's world
    // it is taken now, before the page's scripts run. No page script reaches the
    // program's own world, and there taking it would have the engine build these
    // prototypes in every document (about half a millisecond each, most of the
    // script's cost in a frame): it is taken by the first handler that runs.
    // Every name take() sets is declared here (an undeclared one would stop it).
    let eventTarget, eventCancelable, preventDefault, composedPath, submitterOf, formDataOf, formDataEntries,
        iteratorNext, fileName, formElements, formMethod, formAction, formEnctype, collectionLength,
        collectionItem, getAttribute, hasAttribute, localName, inputType, submitterProperty, Decoder,
        decoderEncoding, characterSet, baseUri, Address, addressHref, recordTarget, destination, navigationType,
        destinationUrl;
    let taken = false;
    function take() {
        if (taken)
            return;
        taken = true;
        eventTarget = getter(Event.prototype, 'target');
        eventCancelable = getter(Event.prototype, 'cancelable');
        preventDefault = method(Event.prototype, 'preventDefault');
        composedPath = method(Event.prototype, 'composedPath');
        submitterOf = getter(SubmitEvent.prototype, 'submitter');
        formDataOf = getter(FormDataEvent.prototype, 'formData');
        formDataEntries = method(FormData.prototype, 'entries');
        iteratorNext = method(Object.getPrototypeOf(formDataEntries(new FormData())), 'next');
        fileName = getter(File.prototype, 'name');
        formElements = getter(HTMLFormElement.prototype, 'elements');
        formMethod = getter(HTMLFormElement.prototype, 'method');
        formAction = getter(HTMLFormElement.prototype, 'action');
        formEnctype = getter(HTMLFormElement.prototype, 'enctype');
        collectionLength = getter(HTMLCollection.prototype, 'length');
        collectionItem = method(HTMLCollection.prototype, 'item');
        getAttribute = method(Element.prototype, 'getAttribute');
        hasAttribute = method(Element.prototype, 'hasAttribute');
        localName = getter(Element.prototype, 'localName');
        inputType = getter(HTMLInputElement.prototype, 'type');
        // A submitter's own method, address and encoding, by its kind.
        submitterProperty = { __proto__: null };
        for (const kind of [['input', HTMLInputElement], ['button', HTMLButtonElement]]) {
            submitterProperty[kind[0]] = {
                __proto__: null,
                formmethod: getter(kind[1].prototype, 'formMethod'),
                formaction: getter(kind[1].prototype, 'formAction'),
                formenctype: getter(kind[1].prototype, 'formEnctype'),
            };
        }
        Decoder = TextDecoder;
        decoderEncoding = getter(TextDecoder.prototype, 'encoding');
        characterSet = getter(Document.prototype, 'characterSet');
        baseUri = getter(Node.prototype, 'baseURI');
        Address = URL;
        addressHref = getter(URL.prototype, 'href');
        recordTarget = getter(MutationRecord.prototype, 'target');
        try {
            destination = getter(NavigateEvent.prototype, 'destination');
            navigationType = getter(NavigateEvent.prototype, 'navigationType');
            destinationUrl = getter(NavigationDestination.prototype, 'url');
        } catch (error) { /* no navigation API */ }
    }
    if (pageWorld)
        take();

    const doc = document;
    const frameId = Math.random().toString(36).slice(2);

    // A blank document (a new window's first document, a blank frame) reports
    // nothing but form submissions: the engine can fail on messages from a new
    // window's first document while it is not yet shown.
    const blank = location.protocol === 'about:';

    // message: an object without prototype whose values are strings, numbers
    // and booleans, so that writing it out asks the page's objects nothing.
    function send(message) {
        if (blank && message.k !== 'form')
            return;
        message.frame = frameId;
        message.top = isTop;
        debug(marker + stringify(message));
    }

    // The page never hears of the script's own faults.
    function guarded(handler) {
        return function (e) {
            try {
                handler(e);
            } catch (error) { /* nothing to report to */ }
        };
    }

    // Submissions of one task belong together: the engine fires the form data
    // event twice for one submission, the first time with the submitter's entry.
    let group = 0;
    let groupOpen = false;
    let eventSeq = 0;
    function currentGroup() {
        if (!groupOpen) {
            groupOpen = true;
            ++group;
            later(function () { groupOpen = false; }, 0);
        }
        return group;
    }

    // Only events the browser itself fires count (isTrusted cannot be forged or
    // redefined): a page can dispatch its own submit and formdata events, which
    // submit nothing.
    let lastForm = null; // the form and submitter of this task's submit event
    let lastSubmitter = null;
    listen(window, 'submit', guarded(function (e) {
        if (!e.isTrusted)
            return;
        take();
        lastForm = eventTarget(e);
        lastSubmitter = submitterOf(e);
        later(function () { lastForm = lastSubmitter = null; }, 0);
    }), true);

    // Fields the user typed into (a trusted input event). The other values of
    // a form the site gave: hidden fields, defaults left as they were, values
    // page script set; choices (lists, boxes, files, buttons) are the user's.
    const edited = new WeakSetOf();
    listen(window, 'input', guarded(function (e) {
        if (!e.isTrusted)
            return;
        take();
        const target = eventTarget(e);
        if (target)
            weakAdd(edited, target);
    }), true);

    function kindOf(control) {
        try {
            return localName(control);
        } catch (error) {
            return '';
        }
    }

    function typeOf(input) {
        try {
            return inputType(input);
        } catch (error) {
            return '';
        }
    }

    const userTypes = { __proto__: null, checkbox: 1, radio: 1, file: 1, submit: 1, image: 1, button: 1 };
    function origins(form, read) {
        const controls = formElements(form);
        const count = collectionLength(controls);
        const used = { __proto__: null };
        let out = '';
        for (let k = 0; k < read.count; ++k) {
            let control = null;
            for (let i = 0; i < count && !control; ++i) {
                const c = collectionItem(controls, i);
                if (!used[i] && crlf(getAttribute(c, 'name') || '') === read.names[k]) {
                    used[i] = true;
                    control = c;
                }
            }
            const kind = control ? kindOf(control) : '';
            const type = kind === 'input' ? typeOf(control) : kind;
            if (!control || type === 'hidden')
                out += 's'; // added by page script, or given by the site
            else if (kind === 'select' || kind === 'button' || userTypes[type])
                out += 'u';
            else
                out += weakHas(edited, control) ? 'u' : 's';
        }
        return out;
    }

    // Line breaks as the browser sends them: CR LF.
    function crlf(text) {
        if (indexOf(text, '\r') < 0 && indexOf(text, '\n') < 0)
            return text;
        let out = '';
        let start = 0;
        const n = text.length;
        for (let i = 0; i < n; ++i) {
            const c = charCodeAt(text, i);
            if (c !== 13 && c !== 10)
                continue;
            out += slice(text, start, i) + '\r\n';
            if (c === 13 && i + 1 < n && charCodeAt(text, i + 1) === 10)
                ++i;
            start = i + 1;
        }
        return out + slice(text, start);
    }

    // The entries of a form data set: names and values (a file by its name), and
    // the same written out as a JSON list of pairs.
    function entries(formData) {
        const read = { __proto__: null, count: 0, names: { __proto__: null }, json: '' };
        const iterator = formDataEntries(formData);
        for (;;) {
            const step = iteratorNext(iterator);
            if (step.done)
                break;
            const pair = step.value;
            const value = pair[1];
            const name = crlf(pair[0]);
            read.names[read.count] = name;
            read.json += (read.count ? ',[' : '[') + stringify(name) + ',' +
                stringify(crlf(typeof value === 'string' ? value : fileName(value))) + ']';
            ++read.count;
        }
        read.json = '[' + read.json + ']';
        return read;
    }

    function isSeparator(c) {
        return c === 32 || c === 44 || (c >= 9 && c <= 13);
    }

    // The encoding the browser writes the form in: the first label of the
    // form's accept-charset that names an encoding, else the page's. The program
    // writes the bytes from the entries.
    function formEncoding(form) {
        const accept = getAttribute(form, 'accept-charset');
        if (accept) {
            const n = accept.length;
            let start = 0;
            for (let i = 0; i <= n; ++i) {
                if (i < n && !isSeparator(charCodeAt(accept, i)))
                    continue;
                if (i > start) {
                    try {
                        return decoderEncoding(new Decoder(slice(accept, start, i)));
                    } catch (error) { /* not an encoding */ }
                }
                start = i + 1;
            }
        }
        return characterSet(doc);
    }

    // Read through the prototypes: a form's own fields named "action" or
    // "method" shadow the properties of the same name.
    function describe(form) {
        const submitter = lastForm === form ? lastSubmitter : null;
        const own = submitter ? submitterProperty[kindOf(submitter)] : null;
        const pick = function (attribute, fallback) {
            if (own && hasAttribute(submitter, attribute))
                return own[attribute](submitter);
            return fallback;
        };
        return {
            __proto__: null,
            method: toLowerCase(pick('formmethod', formMethod(form))),
            action: pick('formaction', formAction(form)),
            enctype: toLowerCase(pick('formenctype', formEnctype(form))),
        };
    }

    // The form data is read first, before any page listener, and again after
    // the page's listeners of every node on the event's way (a listener may
    // change the data and stop the event there); a reading that differs from
    // the last one sent is sent again, and the last one sent is what goes out.
    function report(e, form, reading) {
        const read = entries(formDataOf(e));
        if (reading.sent === read.json)
            return;
        reading.sent = read.json;
        const d = describe(form);
        send({
            __proto__: null,
            k: 'form', group: reading.group, event: reading.id,
            // After the form's submit event: the submission itself, not a page's own form data.
            submitted: lastForm === form,
            method: d.method, action: d.action, enctype: d.enctype,
            charset: formEncoding(form), entries: read.json, origins: origins(form, read),
        });
    }

    function isForm(node) {
        try {
            formMethod(node);
            return true;
        } catch (error) {
            return false;
        }
    }

    listen(window, 'formdata', guarded(function (e) {
        if (!e.isTrusted)
            return;
        take();
        const form = eventTarget(e);
        if (!form || !isForm(form))
            return;
        const reading = { __proto__: null, id: ++eventSeq, group: currentGroup(), sent: null };
        report(e, form, reading);
        const after = guarded(function (ev) {
            if (ev === e)
                report(e, form, reading);
        });
        // Added now, each runs after the page's listeners of its node and phase.
        const path = composedPath(e);
        const n = path.length;
        for (let i = 0; i < n; ++i) {
            if (path[i] !== window)
                listen(path[i], 'formdata', after, true);
            listen(path[i], 'formdata', after, false);
        }
        later(function () {
            for (let i = 0; i < n; ++i) {
                unlisten(path[i], 'formdata', after, true);
                unlisten(path[i], 'formdata', after, false);
            }
        }, 0);
    }), true);

    function announce(url) {
        try {
            send({ __proto__: null, k: 'nav', url: addressHref(new Address(url, baseUri(doc))) });
        } catch (error) { /* not an address */ }
    }

    // Cross-document navigations this document starts.
    try {
        const navigation = window.navigation;
        if (navigation) {
            listen(navigation, 'navigate', guarded(function (e) {
                if (!e.isTrusted)
                    return;
                take();
                const to = destination ? destination(e) : null;
                const url = to ? destinationUrl(to) : '';
                if (!url)
                    return;
                // The engine does not report navigations to the blank page: the
                // program is asked instead, and may refuse it.
                if (isTop && url === 'about:blank' && eventCancelable(e) && navigationType(e) !== 'traverse') {
                    preventDefault(e);
                    send({ __proto__: null, k: 'blank' });
                    return;
                }
                announce(url);
            }));
        }
    } catch (error) { /* no navigation API */ }

    // A frame's address changed by script while the frame loads or is blank
    // reaches the engine as a redirect: announced, it counts as the page's own.
    // (Meta refreshes and the page's other navigations raise the navigation
    // API's event above.) Only attribute changes are watched: the parser's
    // insertions make no records, which keeps page loads cheap.
    const observer = new MutationObserver(guarded(function (records) {
        take();
        const n = records.length;
        for (let i = 0; i < n; ++i) {
            const el = recordTarget(records[i]);
            const kind = kindOf(el);
            const src = kind === 'iframe' || kind === 'frame' ? getAttribute(el, 'src') : null;
            if (src)
                announce(src);
        }
    }));
    observer.observe(doc, { subtree: true, attributes: true, attributeFilter: ['src'] });

    send({ __proto__: null, k: 'doc', url: documentUrl(doc) });
    // A frame's load ends its part of the window's loading; the top document's
    // load the engine reports itself.
    if (!isTop)
        listen(window, 'load', guarded(function () { send({ __proto__: null, k: 'load', url: documentUrl(doc) }); }));
})();
