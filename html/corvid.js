// The container page's own library: it receives the shell's callbacks, hands the access key to
// the trusted frames that ask for it, and relays callbacks to the frame that registered them.
(function () {
    'use strict';

    var accessKey = null;
    var postCounter = 0;
    var registry = {};          // function name -> { frame, origin, persistent, onError }
    window.corvidRegistry = registry;
    var waitingFrames = [];     // frames that asked for access before the key existed
    var urlRequested = null;

    function contentFrame() { return document.getElementById('contentFrame'); }

    function hostOf(origin) {
        var match = /^[a-z][a-z0-9+.\-]*:\/\/\[?([^\/\]]*?)\]?(:\d+)?$/i.exec(origin || '');
        return match ? match[1].toLowerCase() : '';
    }

    // A frame may hold the key only when it shows a local file or a trusted host.
    function isTrustedOrigin(origin) {
        if (origin === 'file://' || /^file:/i.test(origin || '')) return true;
        var host = hostOf(origin);
        var hosts = window.qtTrustedHosts || [];
        return host !== '' && hosts.indexOf(host) >= 0;
    }

    // Key-bearing messages go to the frame's own origin; file documents have no origin that
    // postMessage can name, so they are addressed by their scheme alone.
    function targetOrigin(origin) {
        return /^https?:\/\//i.test(origin || '') ? origin : '*';
    }

    function isArray(value) { return Object.prototype.toString.call(value) === '[object Array]'; }

    function globalsFor() {
        var get = function (name) { return typeof window[name] === 'function' ? window[name]() : null; };
        return ['qtSetGlobals', ++postCounter, accessKey, get('qtTempDirPath'), get('qtStorageDirPath'),
                get('qtUserDocsDirPath'), get('qtUserDesktopDirPath'), get('qtLogFilePath')];
    }

    function grantAccess(frame, origin) {
        if (!isTrustedOrigin(origin)) return;
        if (!accessKey) {
            waitingFrames.push({ frame: frame, origin: origin });
            return;
        }
        send(frame, globalsFor(), origin);
    }

    // A frame still shows a local file when its location can be read as one; a frame that went
    // to a web page meanwhile can no longer be read from here.
    function stillLocal(frame) {
        try { return frame.location.protocol === 'file:'; } catch (e) { return false; }
    }

    function send(frame, message, origin) {
        var target = targetOrigin(origin);
        if (target === '*' && !stillLocal(frame)) return;
        frame.postMessage(message, target);
    }

    function deliverToFrame(entry, funcName, result, indicator) {
        var postId = ++postCounter;
        if (!deliverDirectly(entry, postId, funcName, result, indicator))
            send(entry.frame, ['qtCallback', postId, funcName, result, indicator], entry.origin);
    }

    // A frame that still shows a local file shares this page's origin, so its runtime can take
    // the response at once: postMessage would copy every value, a whole file's text included.
    function deliverDirectly(entry, postId, funcName, result, indicator) {
        if (targetOrigin(entry.origin) !== '*' || !stillLocal(entry.frame)) return false;
        var receive;
        try { receive = entry.frame.qtReceiveCallback_; } catch (e) { return false; }
        if (typeof receive !== 'function') return false;
        receive(postId, funcName, result, indicator);
        return true;
    }

    function callHere(funcName, result) {
        if (typeof window[funcName] !== 'function') return false;
        try { window[funcName].apply(window, result); } catch (e) { console.log(e); }
        return true;
    }

    // Delivers a response to whoever registered funcName: a frame, or this page itself.
    function deliver(funcName, result, indicator, triesLeft) {
        var entry = registry[funcName];
        if (entry) {
            if (!entry.persistent) delete registry[funcName];
            if (indicator > 0 && typeof window.setQtStateChangeIndicator === 'function')
                window.setQtStateChangeIndicator(indicator);
            if (entry.frame === window) callHere(funcName, result);
            else deliverToFrame(entry, funcName, result, indicator);
            return;
        }
        if (callHere(funcName, result)) return;
        // A frame registers by message just before it calls the shell, and the shell may answer
        // at once: give the registration a few turns to arrive.
        if (triesLeft > 0)
            setTimeout(function () { deliver(funcName, result, indicator, triesLeft - 1); }, 0);
    }

    window.invokeCallback = function (funcName, result, indicator) {
        deliver(funcName, result, indicator, 5);
    };

    window.invokeCallbackAll = function (funcName, result, indicator) {
        callHere(funcName, result);
        for (var name in registry) {
            if (name === funcName || (name.indexOf(funcName) === 0 && /^\d+$/.test(name.substring(funcName.length)))) {
                var entry = registry[name];
                if (entry.frame !== window) deliverToFrame(entry, name, result, indicator);
            }
        }
    };

    window.invokeOnErrorCallback = function (unused, errorCode, details) {
        var delivered = false;
        for (var name in registry) {
            var entry = registry[name];
            if (!entry.onError) continue;
            delivered = true;
            if (entry.frame === window) callHere(name, [unused, errorCode, details]);
            else deliverToFrame(entry, name, [unused, errorCode, details], 0);
        }
        if (!delivered) console.log('Shell error ' + errorCode + ': ' + (details || []).join(' '));
    };

    window.setCookie = function (name, value, unused) {
        if (name !== (window.qtKeyCookieName || 'QT_ACCESS_KEY_COOKIE')) return;
        accessKey = value;
        if (typeof window.qtSetApiGlobals === 'function') window.qtSetApiGlobals();
        if (typeof window.setQtKey === 'function') window.setQtKey(value);
        var waiting = waitingFrames;
        waitingFrames = [];
        for (var i = 0; i < waiting.length; ++i) grantAccess(waiting[i].frame, waiting[i].origin);
    };

    window.setUrlRequested = function (url) {
        urlRequested = url;
        // A frame that saw the click reports it first; otherwise the content frame loads it.
        setTimeout(onLoadRequested, 50);
    };
    window.resetUrlRequested = function () { urlRequested = null; };
    window.getUrlRequested = function () { return urlRequested; };

    // The shell hands over only links clicked here or in the content frame, so a report from
    // any other frame is not about the pending link and must not take it.
    function onLinkClicked(source) {
        var content = contentFrame();
        if (!urlRequested || !content || source !== content.contentWindow) return;
        source.location = urlRequested;
        urlRequested = null;
    }

    function onLoadRequested() {
        // No frame reported the click: the address goes to the content frame.
        if (urlRequested) contentFrame().src = urlRequested;
        urlRequested = null;
    }

    function register(event, data) {
        if (!isTrustedOrigin(event.origin) && event.source !== window) return;
        var name = data[1];
        var existing = registry[name];
        if (existing && existing.frame === event.source && existing.persistent) return;
        registry[name] = { frame: event.source, origin: event.origin, persistent: !!data[2], onError: !!data[3] };
    }

    window.receiveMessage = function (event) {
        try {
            var data = event.data;
            var id = typeof data === 'string' ? data : (isArray(data) ? data[0] : null);
            if (id === 'grantQtAccess') grantAccess(event.source, event.origin);
            else if (id === 'qtLinkClicked') onLinkClicked(event.source);
            else if (id === 'showQtContent') contentFrame().style.visibility = 'visible';
            else if (id === 'qtRegisterCallBack') register(event, data);
            else if (id === 'qtUnRegisterCallBack') {
                var entry = registry[data[1]];
                if (entry && entry.frame === event.source) delete registry[data[1]];
            } else if (id === 'qtInvokeError') {
                // Reports reach the trusted frames' error handlers, so only they may make them.
                if (isTrustedOrigin(event.origin) || event.source === window)
                    window.invokeOnErrorCallback(null, data[1], data[2]);
            }
        } catch (e) {
            console.log(e);
        }
    };
    window.addEventListener('message', window.receiveMessage, false);

    window.setContentFrameToViewPortSize = function () {
        var frame = contentFrame();
        frame.style.width = window.innerWidth + 'px';
        frame.style.height = window.innerHeight + 'px';
    };

    function togglePanel(id) {
        var panel = document.getElementById(id);
        var shown = panel.className.indexOf('shown') < 0;
        panel.className = shown ? 'corvid-panel shown' : 'corvid-panel';
        return shown;
    }

    window.toggleHelp = function () {
        if (togglePanel('helpFrame') && window.helpPageUrl)
            document.getElementById('helpFrame').src = window.helpPageUrl;
    };

    // The start address by UDP broadcast: the first datagram that holds a web address becomes
    // the start page. Anything else is ignored, so that no sender on the network can make the
    // local content frame run script of its choosing.
    var listeningForStart = false;

    window.listenForOnLoadUrl = function (port) {
        if (typeof QtObj === 'undefined' || !accessKey) return;
        listeningForStart = true;
        QtObj.udpListen(accessKey, 'onLoadUrlReceived', 0, port);
    };

    window.stopListeningForOnLoadUrl = function () {
        if (!listeningForStart) return;
        listeningForStart = false;
        QtObj.udpStop(accessKey, '', 0);
    };

    window.onLoadUrlReceived = function (id, success, code, message) {
        if (!success) {
            listeningForStart = false;
            console.log('No start address by UDP: ' + code + ' ' + message);
            return;
        }
        var address = String(message).trim();
        if (!listeningForStart || !/^https?:\/\/[^\s'"<>\\]+$/i.test(address)) return;
        window.stopListeningForOnLoadUrl();
        QtObj.saveUrl(address);
        window.onLoadUrl = address;
        contentFrame().src = address;
    };

    window.installTrustedRootCert = function (url) {
        document.getElementById('downloadFrame').src = url;
    };

    // The settings form: one field per element the shell names in settingsElements.
    var settingsLabels = { url: 'Start page', user: 'User name', pass: 'Password', maximize: 'Start maximized' };

    function buildSettingsForm() {
        var fields = document.getElementById('settingsFields');
        fields.innerHTML = '';
        var elements = window.settingsElements || ['url', 'user', 'pass', 'maximize', 'save'];
        for (var i = 0; i < elements.length; ++i) {
            var name = elements[i];
            if (name === 'save') {
                var save = document.createElement('button');
                save.id = 'settings_save';
                save.textContent = 'Save';
                save.disabled = window.userEditableSettings === false;
                save.onclick = saveSettings;
                fields.appendChild(save);
                continue;
            }
            if (!settingsLabels[name]) continue;
            var label = document.createElement('label');
            label.textContent = settingsLabels[name];
            var input = document.createElement('input');
            input.id = 'settings_' + name;
            input.type = name === 'maximize' ? 'checkbox' : (name === 'pass' ? 'password' : 'text');
            label.appendChild(input);
            fields.appendChild(label);
        }
    }

    function field(name) { return document.getElementById('settings_' + name); }

    window.onSettingsFetched = function (url, user, pass, maximize) {
        if (field('url')) field('url').value = url;
        if (field('user')) field('user').value = user;
        if (field('pass')) field('pass').value = pass;
        if (field('maximize')) field('maximize').checked = !!maximize;
    };

    window.onSettingsSaved = function (ok) {
        document.getElementById('settingsStatus').textContent = ok ? 'Saved. The start page is used at the next start.' : 'Not saved.';
    };

    function saveSettings() {
        var value = function (name, fallback) { return field(name) ? field(name).value : fallback; };
        var settings = [value('url', null), value('user', null), value('pass', null),
                        field('maximize') ? field('maximize').checked : false];
        QtObj.updateSettings(accessKey, settings, 'onSettingsSaved');
    }

    window.toggleSettings = function () {
        if (!togglePanel('settingsForm')) return;
        buildSettingsForm();
        document.getElementById('settingsStatus').textContent = '';
        if (typeof QtObj !== 'undefined') QtObj.fetchSettings(accessKey, 'onSettingsFetched');
    };
})();
