"""The pages of the game's web interface that the development launcher server plays.

Every page keeps its controls at fixed places, so a test can click them by position:
  login page   user name field at (312, 200), password at (312, 280), both 400 x 44; "autofocus" on
               the user name; Enter submits through a script that posts to /login and then navigates
               to "play?qvo=<token>&customer_id=<id>&sid=<sid>" beside the page
  after login  links of 300 x 60 at x 40: "/logout" at y 200, "/close" at y 300, the outside page
               (same port, host "localhost": outside the white list) at y 400
  logged out   the same links: "/" at y 200, "/close" at y 300
"""

import html
import re

STYLE = """
body { margin: 0; background: #17324d; color: #f0f0f0; font: 18px sans-serif; }
h1 { position: absolute; left: 312px; top: 60px; margin: 0; font-size: 34px; }
.field { position: absolute; left: 312px; width: 400px; height: 44px; font-size: 22px; box-sizing: border-box; }
.label { position: absolute; left: 312px; }
.link { position: absolute; left: 40px; width: 300px; height: 60px; line-height: 60px; text-align: center;
        background: #e8b04a; color: #17324d; text-decoration: none; font-weight: bold; }
#message { position: absolute; left: 312px; top: 380px; }
"""

LOGIN = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Quorvale Online - log in</title><style>%(style)s</style></head>
<body>
<h1>Quorvale Online</h1>
<form id="login" autocomplete="off">
<span class="label" style="top: 172px">User name</span>
<input class="field" style="top: 200px" id="username" name="username" autofocus>
<span class="label" style="top: 252px">Password</span>
<input class="field" style="top: 280px" id="password" name="password" type="password">
<input type="submit" style="position: absolute; left: -1000px" tabindex="-1" value="Log in">
</form>
<p id="message"></p>
<script>
document.getElementById('login').addEventListener('submit', function (event) {
    event.preventDefault();
    var sid = new URLSearchParams(location.search).get('sid') || '';
    fetch('/login', {method: 'POST', headers: {'Content-Type': 'application/json'},
                     body: JSON.stringify({username: document.getElementById('username').value,
                                           password: document.getElementById('password').value, sid: sid})})
        .then(function (r) { if (!r.ok) throw new Error('refused'); return r.json(); })
        .then(function (a) {
            location.href = 'play?qvo=' + encodeURIComponent(a.qvo) + '&customer_id=' + a.customer_id +
                            '&sid=' + encodeURIComponent(a.sid);
        })
        .catch(function () { document.getElementById('message').textContent = 'Login failed'; });
});
</script>
</body></html>
"""

AFTER_LOGIN = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Quorvale Online</title><style>%(style)s</style></head>
<body>
<h1>Welcome back</h1>
<a class="link" style="top: 200px" id="logout" href="/logout">Log out</a>
<a class="link" style="top: 300px" id="close" href="/close">Close the launcher</a>
<a class="link" style="top: 400px" id="outside" href="%(outside)s">Community news</a>
</body></html>
"""

PLAIN = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Quorvale Online</title><style>%(style)s</style></head>
<body><h1>%(text)s</h1>%(extra)s</body></html>
"""

LANGUAGE = r"(/[a-z]{2})?"


def outside_address(own_address):
    """The same server under another host name: the white list's "starts with the web server"
    rule refuses it, and it still is loopback."""
    return re.sub(r"^http://[^:/]+", "http://localhost", own_address) + "/outside"


def page(path, own_address):
    """The HTML of a GET path, or None for 404."""
    values = {"style": STYLE, "outside": html.escape(outside_address(own_address), quote=True)}
    if re.fullmatch(LANGUAGE + "/", path):
        return LOGIN % values
    if re.fullmatch(LANGUAGE + "/play", path):
        return AFTER_LOGIN % values
    if re.fullmatch(LANGUAGE + "/logout", path):
        values.update(text="Logged out", extra='<a class="link" style="top: 200px" id="login" href="/">Log in</a>'
                                                '<a class="link" style="top: 300px" id="close" href="/close">'
                                                'Close the launcher</a>')
        return PLAIN % values
    if re.fullmatch(LANGUAGE + "/close", path):
        values.update(text="Goodbye", extra="")
        return PLAIN % values
    if path == "/outside":
        values.update(text="Outside the launcher", extra="")
        return PLAIN % values
    if re.fullmatch(LANGUAGE + r"/[A-Za-z0-9_.-]+\.html", path):
        values.update(text="Error page " + html.escape(path), extra="")
        return PLAIN % values
    return None
