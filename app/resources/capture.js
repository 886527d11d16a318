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

    function crlf(text) {
        return String(text).replace(/\r\n|\r|\n/g, '\r\n');
    }

    function entries(formData) {
        const list = [];
        for (const [name, value] of formData.entries())
            list.push([crlf(name), crlf(typeof value === 'string' ? value : (value.name || ''))]);
        return list;
    }

    function serialise(list, enctype) {
        if (enctype === 'text/plain')
            return list.map(function (p) { return p[0] + '=' + p[1] + '\r\n'; }).join('');
        // Also for multipart forms: their entries, form-encoded, are what a replay sends.
        return new URLSearchParams(list).toString();
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

    function onFormData(phase) {
        return function (e) {
            const form = e.target;
            if (!e.isTrusted || !(form instanceof HTMLFormElement))
                return;
            if (!e.__tallyroId)
                Object.defineProperty(e, '__tallyroId', { value: ++eventSeq });
            const d = describe(form);
            send({
                k: 'form', phase: phase, group: currentGroup(), event: e.__tallyroId,
                // After the form's submit event: the submission itself, not a page's own form data.
                submitted: !!(lastSubmit && lastSubmit.form === form),
                method: d.method, action: d.action, enctype: d.enctype,
                body: serialise(entries(e.formData), d.enctype),
            });
        };
    }
    // Read before and after the page's own listeners, which may change the data.
    window.addEventListener('formdata', onFormData(1), true);
    window.addEventListener('formdata', onFormData(3), false);

    function announce(url) {
        try {
            send({ k: 'nav', url: new URL(url, document.baseURI).href });
        } catch (e) { /* not an address */ }
    }

    // Cross-document navigations this document starts.
    try {
        if (window.navigation)
            window.navigation.addEventListener('navigate', function (e) {
                if (e.destination && e.destination.url)
                    announce(e.destination.url);
            });
    } catch (e) { /* no navigation API */ }

    function refreshTarget(meta) {
        const content = meta.getAttribute('content') || '';
        const m = /^\s*[\d.]*\s*[;,]?\s*(?:url\s*=\s*)?(['"]?)(.*?)\1\s*$/i.exec(content);
        return m && m[2] ? m[2] : document.URL;
    }

    function watch(node) {
        if (!(node instanceof Element))
            return;
        const check = function (el) {
            if (el.localName === 'meta' && (el.getAttribute('http-equiv') || '').toLowerCase() === 'refresh')
                announce(refreshTarget(el));
            else if ((el.localName === 'iframe' || el.localName === 'frame') && el.getAttribute('src'))
                announce(el.getAttribute('src'));
        };
        check(node);
        // The parser adds elements before their children: most have none yet.
        if (node.firstElementChild)
            node.querySelectorAll('meta, iframe, frame').forEach(check);
    }
    const observer = new MutationObserver(function (records) {
        for (const r of records) {
            if (r.type === 'attributes')
                watch(r.target);
            else
                r.addedNodes.forEach(watch);
        }
    });
    observer.observe(document, { subtree: true, childList: true, attributes: true, attributeFilter: ['src', 'content'] });

    send({ k: 'doc', url: document.URL });
    window.addEventListener('load', function () { send({ k: 'load', url: document.URL }); });
})();
