// Runs in every frame of every recorder page, in a script world the page
// cannot reach. It tells the browser, before the request leaves, what a form
// submission will send (the engine does not expose request bodies), which
// navigations the page itself starts (to tell them from server redirects),
// and when a frame's document is created and loaded.
(function () {
    'use strict';
    const marker = '@MARKER@';
    const frameId = Math.random().toString(36).slice(2);
    const isTop = window === window.top;

    function transport() {
        try {
            if (window.qt && window.qt.webChannelTransport)
                return window.qt.webChannelTransport;
        } catch (e) { /* not available */ }
        try {
            // Same-origin frames share the top frame's channel.
            const top = window.top;
            if (top !== window && top.qt && top.qt.webChannelTransport)
                return top.qt.webChannelTransport;
        } catch (e) { /* cross-origin top */ }
        return null;
    }

    // A blank document (a new window's first document, a blank frame) reports
    // nothing but form submissions: the engine can fail on messages from a new
    // window's first document while it is not yet shown.
    const blank = location.protocol === 'about:';

    function send(message) {
        if (blank && message.k !== 'form')
            return;
        message.frame = frameId;
        message.top = isTop;
        const text = JSON.stringify(message);
        const t = transport();
        if (t) {
            if (!t.onmessage)
                t.onmessage = function () {};
            t.send(JSON.stringify({ type: 6, object: 'tallyroCapture', method: 'post', args: [text], id: 0 }));
        } else {
            console.debug(marker + text);
        }
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
            setTimeout(function () { groupOpen = false; }, 0);
        }
        return group;
    }

    // Only events the browser itself fires count: a page can dispatch its own
    // submit and formdata events, which submit nothing.
    let lastSubmit = null; // { form, submitter } of the submit event of this task
    window.addEventListener('submit', function (e) {
        if (!e.isTrusted)
            return;
        lastSubmit = { form: e.target, submitter: e.submitter || null };
        setTimeout(function () { lastSubmit = null; }, 0);
    }, true);

    // Fields the user typed into (a trusted input event). The other values of
    // a form the site gave: hidden fields, defaults left as they were, values
    // page script set; choices (lists, boxes, files, buttons) are the user's.
    const edited = new WeakSet();
    window.addEventListener('input', function (e) {
        if (e.isTrusted && e.target)
            edited.add(e.target);
    }, true);

    function origins(form, list) {
        const controls = Array.from(form.elements);
        const used = new Set();
        return list.map(function (entry) {
            const control = controls.find(function (c) { return !used.has(c) && crlf(c.name) === entry[0]; });
            if (!control)
                return 's'; // added by page script
            used.add(control);
            const type = String(control.type || '').toLowerCase();
            if (type === 'hidden')
                return 's';
            if (control instanceof HTMLSelectElement || /^(checkbox|radio|file|submit|image|button)$/.test(type))
                return 'u';
            return edited.has(control) ? 'u' : 's';
        }).join('');
    }

    function crlf(text) {
        return String(text).replace(/\r\n|\r|\n/g, '\r\n');
    }

    function entries(formData) {
        const list = [];
        for (const [name, value] of formData.entries())
            list.push([crlf(name), crlf(typeof value === 'string' ? value : (value.name || ''))]);
        return list;
    }

    // The encoding the browser writes the form in: the first label of the
    // form's accept-charset that names an encoding, else the page's. The program
    // writes the bytes from the entries.
    function formEncoding(form) {
        const accept = form.getAttribute('accept-charset');
        if (accept) {
            for (const label of accept.split(/[\s,]+/)) {
                if (!label)
                    continue;
                try {
                    return new TextDecoder(label).encoding;
                } catch (e) { /* not an encoding */ }
            }
        }
        return document.characterSet;
    }

    // Read through the prototype: a form's own fields named "action" or "method"
    // shadow the properties of the same name.
    function formProperty(form, name) {
        return Object.getOwnPropertyDescriptor(HTMLFormElement.prototype, name).get.call(form);
    }

    function describe(form) {
        const submitter = lastSubmit && lastSubmit.form === form ? lastSubmit.submitter : null;
        const pick = function (attribute, property, fallback) {
            if (submitter && submitter.hasAttribute && submitter.hasAttribute(attribute))
                return submitter[property];
            return fallback;
        };
        return {
            method: String(pick('formmethod', 'formMethod', formProperty(form, 'method'))).toLowerCase(),
            action: String(pick('formaction', 'formAction', formProperty(form, 'action'))),
            enctype: String(pick('formenctype', 'formEnctype', formProperty(form, 'enctype'))).toLowerCase(),
        };
    }

    // The form data is read first, before any page listener, and again after
    // the page's listeners of every node on the event's way (a listener may
    // change the data and stop the event there); a reading that differs from
    // the last one sent is sent again, and the last one sent is what goes out.
    function report(e, reading) {
        const form = e.target;
        const read = entries(e.formData);
        const list = JSON.stringify(read);
        if (reading.sent === list)
            return;
        reading.sent = list;
        const d = describe(form);
        send({
            k: 'form', group: reading.group, event: reading.id,
            // After the form's submit event: the submission itself, not a page's own form data.
            submitted: !!(lastSubmit && lastSubmit.form === form),
            method: d.method, action: d.action, enctype: d.enctype,
            charset: formEncoding(form), entries: list, origins: origins(form, read),
        });
    }

    window.addEventListener('formdata', function (e) {
        const form = e.target;
        if (!e.isTrusted || !(form instanceof HTMLFormElement))
            return;
        const reading = { id: ++eventSeq, group: currentGroup(), sent: null };
        report(e, reading);
        const after = function (ev) {
            if (ev === e)
                report(e, reading);
        };
        // Added now, each runs after the page's listeners of its node and phase.
        const path = e.composedPath();
        path.forEach(function (n) {
            if (n !== window)
                n.addEventListener('formdata', after, true);
            n.addEventListener('formdata', after, false);
        });
        setTimeout(function () {
            path.forEach(function (n) {
                n.removeEventListener('formdata', after, true);
                n.removeEventListener('formdata', after, false);
            });
        }, 0);
    }, true);

    function announce(url) {
        try {
            send({ k: 'nav', url: new URL(url, document.baseURI).href });
        } catch (e) { /* not an address */ }
    }

    // Cross-document navigations this document starts.
    try {
        if (window.navigation)
            window.navigation.addEventListener('navigate', function (e) {
                if (!e.destination || !e.destination.url)
                    return;
                // The engine does not report navigations to the blank page: the
                // program is asked instead, and may refuse it.
                if (isTop && e.destination.url === 'about:blank' && e.cancelable &&
                    e.navigationType !== 'traverse') {
                    e.preventDefault();
                    send({ k: 'blank' });
                    return;
                }
                announce(e.destination.url);
            });
    } catch (e) { /* no navigation API */ }

    // A frame's address changed by script while the frame loads or is blank
    // reaches the engine as a redirect: announced, it counts as the page's own.
    // (Meta refreshes and the page's other navigations raise the navigation
    // API's event above.) Only attribute changes are watched: the parser's
    // insertions make no records, which keeps page loads cheap.
    const observer = new MutationObserver(function (records) {
        for (const r of records) {
            const el = r.target;
            if ((el.localName === 'iframe' || el.localName === 'frame') && el.getAttribute('src'))
                announce(el.getAttribute('src'));
        }
    });
    observer.observe(document, { subtree: true, attributes: true, attributeFilter: ['src'] });

    send({ k: 'doc', url: document.URL });
    // A frame's load ends its part of the window's loading; the top document's
    // load the engine reports itself.
    if (!isTop)
        window.addEventListener('load', function () { send({ k: 'load', url: document.URL }); });
})();
