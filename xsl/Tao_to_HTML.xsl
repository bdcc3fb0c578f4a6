<?xml version="1.0" encoding="UTF-8"?>
<!--
  The oral anticoagulant therapy (TAO) report as a page: a few totals, then one card per
  patient with the latest value and every consultation of the period, newest first.
-->
<xsl:stylesheet version="1.0"
                xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns:t="http://www.zona12.asl.it/asl/tao"
                xmlns:pagina="urn:zona12:pagina"
                extension-element-prefixes="pagina"
                exclude-result-prefixes="t">

  <xsl:include href="ZONA12_comune.xsl"/>

  <xsl:variable name="assistiti" select="/t:tao/t:medico/t:assistito"/>
  <xsl:variable name="totale" select="count($assistiti)"/>
  <xsl:variable name="radice" select="/"/>

  <xsl:template match="/">
    <xsl:call-template name="pagina">
      <xsl:with-param name="titolo">Terapia anticoagulante orale (TAO)</xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="/" mode="riepilogo">
    <xsl:value-of select="$totale"/>
    <xsl:choose>
      <xsl:when test="$totale = 1"> assistito in terapia anticoagulante orale</xsl:when>
      <xsl:otherwise> assistiti in terapia anticoagulante orale</xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="/" mode="contenuto">
    <xsl:if test="$totale &gt; 0">
      <xsl:variable name="seguiti" select="count($assistiti[t:monitoraggio/t:consulenza])"/>
      <section>
        <div class="cifre">
          <div class="cifra-box">
            <strong><xsl:value-of select="$totale"/></strong>
            <span>assistiti in TAO</span>
          </div>
          <div class="cifra-box">
            <strong><xsl:value-of select="$seguiti"/></strong>
            <span>
              con almeno una consulenza (<xsl:call-template name="percentuale">
                <xsl:with-param name="parte" select="$seguiti"/>
                <xsl:with-param name="totale" select="$totale"/>
              </xsl:call-template>)
            </span>
            <xsl:call-template name="barra">
              <xsl:with-param name="parte" select="$seguiti"/>
              <xsl:with-param name="totale" select="$totale"/>
            </xsl:call-template>
          </div>
          <div class="cifra-box">
            <strong><xsl:value-of select="count($assistiti/t:monitoraggio/t:consulenza)"/></strong>
            <span>consulenze nel periodo</span>
          </div>
        </div>
      </section>
      <section>
        <h2>Assistiti</h2>
        <p class="nota">Consulenze del periodo, dalla più recente.</p>
        <div class="griglia">
          <!-- One block per patient. The program's processor writes each block out as soon as
               the next one is made, so that a long report's blocks are never held together;
               any other processor applies the same templates through the fallback. -->
          <pagina:blocchi select="$assistiti">
            <xsl:fallback><xsl:apply-templates select="$assistiti"/></xsl:fallback>
          </pagina:blocchi>
        </div>
      </section>
    </xsl:if>
  </xsl:template>

  <!-- The values of a field of the table of plausible ranges (qualita-dati) in the whole
       report: the consultations' values, the only field of a record but its date. Context:
       the table's indicatore. -->
  <xsl:template name="valori-del-campo">
    <xsl:variable name="campo" select="concat(@elemento, '/', @campo)"/>
    <xsl:call-template name="valori-fuori-tabella">
      <xsl:with-param name="valori" select="$radice[$campo = 'consulenza/valore']/t:tao/t:medico/t:assistito/t:monitoraggio/t:consulenza/t:valore"/>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="t:assistito">
    <xsl:variable name="consulenze" select="t:monitoraggio/t:consulenza"/>
    <article class="assistito">
      <div class="assistito-testa">
        <div>
          <xsl:call-template name="anagrafica"/>
        </div>
      </div>
      <xsl:choose>
        <xsl:when test="$consulenze">
          <div class="ultimo">
            <span class="cifra"><xsl:value-of select="translate($consulenze[1]/t:valore, '.', ',')"/></span>
            <span class="etichetta">
              ultimo valore, del
              <xsl:call-template name="data">
                <xsl:with-param name="valore" select="$consulenze[1]/t:data"/>
              </xsl:call-template>
            </span>
          </div>
          <table class="consulenze">
            <thead>
              <tr><th>Data</th><th class="valore">Valore</th></tr>
            </thead>
            <tbody>
              <xsl:for-each select="$consulenze">
                <tr>
                  <td>
                    <xsl:call-template name="data">
                      <xsl:with-param name="valore" select="t:data"/>
                    </xsl:call-template>
                  </td>
                  <td class="valore"><xsl:value-of select="translate(t:valore, '.', ',')"/></td>
                </tr>
              </xsl:for-each>
            </tbody>
          </table>
        </xsl:when>
        <xsl:otherwise>
          <p class="assente-testo">Nessuna consulenza nel periodo.</p>
        </xsl:otherwise>
      </xsl:choose>
    </article>
  </xsl:template>

</xsl:stylesheet>
