// The showcase's own small library. It makes the shell calls the panels ask for, and shows each
// call as it was made and each answer as it arrived. It uses nothing but the frame runtime the
// shell gives a trusted page: Qt(), qtKey(), qtCallback(), the folder functions and so on.
(function () {
    'use strict';

    // Places in an argument list that the library fills in, so that the log can show them as a
    // page author writes them: qtKey(), qtCallback('name'), the callback id.
    var KEY = {};
    var CALLBACK = { helper: 'qtCallback' };
    var PERSISTENT = { helper: 'qtCallbackPersistent' };
    var ID = {};

    var callCount = 0;
    var currentPanel = 'files';

    function byId(id) { return document.getElementById(id); }

    function isArray(value) { return Object.prototype.toString.call(value) === '[object Array]'; }

    // A password never goes on screen: the page passes the value but logs dots.
    function Secret(text) { this.text = text; }
    function secret(text) { return new Secret(text); }

    function actualValue(value) {
        if (value instanceof Secret) return value.text;
        return isArray(value) ? value.map(actualValue) : value;
    }

    // Base64 and long texts would bury the log; they are shown cut, with their length.
    function abbreviated(value) {
        if (value instanceof Secret) return '\u2022\u2022\u2022\u2022';
        if (typeof value === 'string' && value.length > 160)
            return value.substring(0, 60) + '\u2026 (' + value.length + ' characters)';
        return isArray(value) ? value.map(abbreviated) : value;
    }

    function json(value) { return JSON.stringify(abbreviated(value)); }

    function logEntry(panel, text) {
        var list = byId(panel + '-calls');
        var item = document.createElement('li');
        var call = document.createElement('code');
        call.className = 'call';
        call.textContent = text;
        item.appendChild(call);
        list.insertBefore(item, list.firstChild);
        return item;
    }

    function logAnswer(item, text, className) {
        var answer = document.createElement('code');
        answer.className = 'answer ' + (className || '');
        answer.textContent = '\u2190 ' + text;
        item.appendChild(answer);
        return answer;
    }

    // A usual answer is (callbackId, success, errorCode, message, values...); the calls that
    // answer in another form are never marked as failed here.
    function looksFailed(answer) {
        return answer.length >= 4 && typeof answer[0] === 'number' && answer[1] === false;
    }

    // Makes Qt()[method](args...) with the markers above filled in, logs it and hands every
    // answer to onAnswer as an array. Returns the callback's name (a persistent one is cancelled
    // by name), or null for a call that answers nothing. Options: viaParameters leaves the
    // arguments in the frame (qtCallbackParameters) so that only the frame's id crosses, as
    // large mails need; secretAnswers lists the places in an answer that hold a password.
    function call(panel, method, args, onAnswer, options) {
        options = options || {};
        var id = ++callCount;
        var callbackName = null;
        var shown = [];
        var actual = [];
        args.forEach(function (arg) {
            if (arg === KEY) {
                shown.push('qtKey()');
                actual.push(qtKey());
            } else if (arg === CALLBACK || arg === PERSISTENT) {
                callbackName = method + 'Answer' + id;
                shown.push(arg.helper + "('" + callbackName + "')");
                // The helper registers the name with the container before the call is made, so
                // even an answer that comes at once finds it.
                actual.push(window[arg.helper](callbackName));
            } else if (arg === ID) {
                shown.push(String(id));
                actual.push(id);
            } else {
                shown.push(json(arg));
                actual.push(actualValue(arg));
            }
        });
        var text = 'Qt().' + method + '(' + shown.join(', ') + ')';
        if (options.viaParameters)
            text = 'Qt().' + method + '(qtCallbackParameters([' + shown.join(', ') + ']))';
        var item = logEntry(panel, text);
        if (callbackName) {
            // Stays until the first answer, so that a call that is never answered shows as such.
            var waiting = logAnswer(item, 'waiting for an answer\u2026', 'waiting');
            window[callbackName] = function () {
                var answer = Array.prototype.slice.call(arguments);
                if (waiting.parentNode) item.removeChild(waiting);
                if (args.indexOf(PERSISTENT) < 0) delete window[callbackName];
                var shownAnswer = answer.map(function (part, place) {
                    return (options.secretAnswers || []).indexOf(place) >= 0 ? secret(part) : part;
                });
                logAnswer(item, json(shownAnswer), looksFailed(answer) ? 'failed' : '');
                if (onAnswer) onAnswer(answer);
            };
        } else {
            logAnswer(item, '(this call gives no answer)');
        }
        try {
            if (options.viaParameters) Qt()[method](qtCallbackParameters(actual));
            else Qt()[method].apply(Qt(), actual);
        } catch (e) {
            logAnswer(item, 'script error: ' + e, 'failed');
        }
        return callbackName;
    }

    // The calls and the result area of one panel.
    function panel(name) {
        var result = byId(name + '-result');
        return {
            call: function (method, args, onAnswer, options) {
                return call(name, method, args, onAnswer, options);
            },
            show: function (text) { result.textContent = text; },
            append: function (text) { result.textContent += text; }
        };
    }

    function value(id) { return byId(id).value; }
    function number(id) { return parseInt(byId(id).value, 10) || 0; }
    function checked(id) { return byId(id).checked; }
    // A list written one item per line, as the shell takes lists: joined with qtDelimiter().
    function list(id) {
        var lines = value(id).split('\n').filter(function (line) { return line.trim() !== ''; });
        return lines.join(qtDelimiter());
    }

    function showPanel(name) {
        currentPanel = name;
        var panels = document.querySelectorAll('.panel');
        for (var i = 0; i < panels.length; ++i)
            panels[i].className = panels[i].id === 'panel-' + name ? 'panel shown' : 'panel';
        var buttons = document.querySelectorAll('#nav button');
        for (var j = 0; j < buttons.length; ++j) {
            var current = buttons[j].getAttribute('data-panel') === name;
            buttons[j].className = current ? 'current' : '';
        }
    }

    // Defaults name the shell's folders, which the page learns only with its key.
    function fillDefaults() {
        var here = document.location.href.replace(/[?#].*$/, '').replace(/[^\/]*$/, '');
        var folders = {
            '{temp}': qtTempDirPath(),
            '{storage}': qtStorageDirPath(),
            '{docs}': qtUserDocsDirPath(),
            '{desktop}': qtUserDesktopDirPath(),
            '{log}': qtLogFilePath(),
            '{here}': here
        };
        var fields = document.querySelectorAll('[data-default]');
        for (var i = 0; i < fields.length; ++i) {
            var template = fields[i].getAttribute('data-default');
            fields[i].value = template.replace(/\{[a-z]+\}/g, function (token) {
                return folders[token] || '';
            });
        }
    }

    // Refused calls never reach their own callback: they come here, to the panel in view.
    window.onShowcaseRefused = function (unused, errorCode, details) {
        logAnswer(logEntry(currentPanel, 'refused call'), json([unused, errorCode, details]),
                  'failed');
    };

    // Called by the runtime once Qt() is ready.
    window.onQtLoad = function () {
        var status = byId('status');
        status.textContent = 'Hosted by Corvid on ' + platformVersionName() + ' (platform '
            + platform() + '). Pick a family on the left, change the arguments, press a call.';
        status.className = 'status';
        qtOnError('onShowcaseRefused');
        fillDefaults();
    };

    window.showcase = {
        KEY: KEY, CALLBACK: CALLBACK, PERSISTENT: PERSISTENT, ID: ID,
        panel: panel, secret: secret, byId: byId,
        value: value, number: number, checked: checked, list: list
    };

    document.addEventListener('DOMContentLoaded', function () {
        var buttons = document.querySelectorAll('#nav button');
        for (var i = 0; i < buttons.length; ++i)
            buttons[i].onclick = function () { showPanel(this.getAttribute('data-panel')); };
        showPanel('files');
    });
})();
